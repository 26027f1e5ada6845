// Windows: the VISA library is a DLL. Compiled only on Windows.
#include <windows.h>

#include "visa/library_loader.h"

std::vector<std::string> default_visa_library_names() {
#if defined(_WIN64)
  return {"visa64.dll", "visa32.dll"};
#else
  return {"visa32.dll"};
#endif
}

namespace dynlib {

void* open(const std::string& path, std::string* why) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *why = "cannot load VISA library " + path + " (Windows error " +
           std::to_string(GetLastError()) +
           "; the library must be built for the same 32 or 64 bits as tmflash)";
  }
  return reinterpret_cast<void*>(module);
}

void* symbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void close(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

}  // namespace dynlib

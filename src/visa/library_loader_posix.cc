#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>

#include "visa/library_loader.h"

std::vector<std::string> default_visa_library_names() {
#if defined(__APPLE__)
  return {"/Library/Frameworks/VISA.framework/VISA", "libvisa.dylib"};
#else
  return {"libvisa.so", "libvisa.so.0", "/usr/local/vxipnp/linux/lib64/libvisa.so",
          "libiovisa.so", "librsvisa.so"};
#endif
}

namespace dynlib {

void* open(const std::string& path, std::string* why) {
  struct stat info {};
  // A name with a slash is a file: say plainly when it is not there.
  if (path.find('/') != std::string::npos && stat(path.c_str(), &info) != 0) {
    *why = "VISA library " + path + " does not exist";
    return nullptr;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    *why = "cannot load VISA library " + path + ": " + (error ? error : "unknown error");
    if (error != nullptr && strstr(error, "wrong ELF class") != nullptr) {
      *why += " (the library must be built for the same 32 or 64 bits as tmflash)";
    }
  }
  return handle;
}

void* symbol(void* handle, const char* name) { return dlsym(handle, name); }

void close(void* handle) { dlclose(handle); }

}  // namespace dynlib

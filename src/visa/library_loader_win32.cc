// Windows: the VISA library is a DLL. Compiled only on Windows.
#include <windows.h>

#include <cstdio>

#include "platform/native.h"
#include "visa/library_loader.h"

namespace {

// The bits of this program's code, which a DLL it loads must match.
constexpr int kProgramBits = sizeof(void*) * 8;

// The system folder (System32; a 32-bit program on 64-bit Windows is shown
// SysWOW64 under that name), where VISA installations put visa64.dll and
// visa32.dll.
std::string system_folder() {
  wchar_t folder[MAX_PATH];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "C:\\Windows\\System32";
  return utf8_of(std::wstring_view(folder, n));
}

// The system's own text for an error code, in the user's language, without
// its line end.
std::string system_message(DWORD error) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = n > 0 ? utf8_of(std::wstring_view(text, n)) : "";
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message.empty() ? "unknown error" : message;
}

// The bits of the DLL at path by its header; 0 when it cannot be told.
int library_bits(const std::string& path) {
  FILE* file = open_file(path.c_str(), "rb");
  if (file == nullptr) return 0;
  char head[4096];
  size_t n = fread(head, 1, sizeof head, file);
  fclose(file);
  return pe_image_bits(std::string_view(head, n));
}

bool names_a_folder(const std::string& path) { return path.find_first_of("\\/:") != std::string::npos; }

}  // namespace

std::vector<std::string> default_visa_library_names() {
  // Only the system folder: a DLL of the same name in the current folder or
  // on PATH is never loaded in place of the installed VISA.
  std::string folder = system_folder() + "\\";
#if defined(_WIN64)
  return {folder + "visa64.dll", folder + "visa32.dll"};
#else
  return {folder + "visa32.dll"};
#endif
}

namespace dynlib {

void* open(const std::string& path, std::string* why) {
  std::wstring wide = wide_name(path);
  if (names_a_folder(path) && GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *why = "VISA library " + path + " does not exist";
    return nullptr;
  }
  // A DLL named with its folder finds the DLLs it needs in that folder too,
  // as a vendor's VISA installed outside the system folder expects.
  DWORD flags = 0;
  if (names_a_folder(path)) {
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
    if (n > 0 && n < MAX_PATH) {
      wide.assign(full, n);
      flags = LOAD_WITH_ALTERED_SEARCH_PATH;
    }
  }
  // No "cannot find the DLL" message box from the system: the reason goes to
  // the operator through our own message.
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, flags);
  DWORD error = GetLastError();
  SetErrorMode(old_mode);
  if (module != nullptr) return reinterpret_cast<void*>(module);

  int bits = library_bits(path);
  if (bits != 0 && bits != kProgramBits) {
    char text[160];
    snprintf(text, sizeof text, ": it is a %d-bit DLL and this tmflash is %d-bit; use the %d-bit tmflash or a %d-bit VISA library",
             bits, kProgramBits, bits, kProgramBits);
    *why = "cannot load VISA library " + path + text;
  } else {
    std::string message = system_message(error);
    // Some texts name the file as "%1", which the system leaves to the caller.
    for (size_t at = message.find("%1"); at != std::string::npos; at = message.find("%1", at + path.size())) {
      message.replace(at, 2, path);
    }
    *why = "cannot load VISA library " + path + ": " + message + " (Windows error " + std::to_string(error) + ")";
  }
  return nullptr;
}

void* symbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void close(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

}  // namespace dynlib

// The VISA implementation of a shared library: a vendor's libvisa.so or
// visa64.dll, or any library with the same C ABI. The ten functions are
// looked up by their plain names.
#pragma once

#include <string>
#include <vector>

#include "visa/visa_backend.h"

class VisaLibraryBackend : public VisaBackend {
 public:
  // path: the library to load; empty to search the system's usual names.
  explicit VisaLibraryBackend(std::string path);
  ~VisaLibraryBackend() override;

  // Loads the library and all ten functions on the first call. On failure
  // *why names the file and, for a library that lacks one, the function.
  const VisaApi* load(std::string* why) override;

  // The library that load() loaded (the name it was found under); empty
  // before, or when none could be loaded.
  const std::string& loaded_name() const { return loaded_name_; }

 private:
  const VisaApi* load_path(const std::string& path, std::string* why);

  std::string path_;
  void* handle_ = nullptr;
  VisaApi api_{};
  bool loaded_ = false;
  std::string loaded_name_;
  std::string error_;  // kept so every later call reports the same failure
};

// The names and places where VISA libraries are installed on this system,
// in the order they are tried.
std::vector<std::string> default_visa_library_names();

// The library handle layer (library_loader_posix.cc, library_loader_win32.cc).
namespace dynlib {
// Opens the library; nullptr and *why on failure.
void* open(const std::string& path, std::string* why);
// The address of the exported function name, or nullptr.
void* symbol(void* handle, const char* name);
void close(void* handle);
}  // namespace dynlib

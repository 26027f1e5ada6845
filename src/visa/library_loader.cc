#include "visa/library_loader.h"

#include <cstring>

namespace {

// Fills one typed table entry from the library; false when it is missing.
template <typename Fn>
bool bind(void* handle, const char* name, Fn* slot, const char** missing) {
  void* address = dynlib::symbol(handle, name);
  if (address == nullptr) {
    if (*missing == nullptr) *missing = name;
    return false;
  }
  *slot = reinterpret_cast<Fn>(address);
  return true;
}

}  // namespace

VisaLibraryBackend::VisaLibraryBackend(std::string path) : path_(std::move(path)) {}

VisaLibraryBackend::~VisaLibraryBackend() {
  if (handle_ != nullptr) dynlib::close(handle_);
}

const VisaApi* VisaLibraryBackend::load(std::string* why) {
  if (loaded_) return &api_;
  if (!error_.empty()) {
    *why = error_;
    return nullptr;
  }
  const VisaApi* api = nullptr;
  if (!path_.empty()) {
    api = load_path(path_, &error_);
  } else {
    std::string tried;
    for (const std::string& name : default_visa_library_names()) {
      std::string ignored;
      api = load_path(name, &ignored);
      if (api != nullptr) break;
      tried += (tried.empty() ? "" : ", ") + name;
    }
    if (api == nullptr) {
      error_ = "no VISA library found (tried " + tried +
               "); name one with --visa=PATH, or use --visa=sim for a simulated instrument";
    }
  }
  if (api == nullptr) *why = error_;
  return api;
}

const VisaApi* VisaLibraryBackend::load_path(const std::string& path, std::string* why) {
  void* handle = dynlib::open(path, why);
  if (handle == nullptr) return nullptr;
  VisaApi api{};
  const char* missing = nullptr;
  bind(handle, "viOpenDefaultRM", &api.viOpenDefaultRM, &missing);
  bind(handle, "viFindRsrc", &api.viFindRsrc, &missing);
  bind(handle, "viFindNext", &api.viFindNext, &missing);
  bind(handle, "viOpen", &api.viOpen, &missing);
  bind(handle, "viClose", &api.viClose, &missing);
  bind(handle, "viSetAttribute", &api.viSetAttribute, &missing);
  bind(handle, "viWrite", &api.viWrite, &missing);
  bind(handle, "viRead", &api.viRead, &missing);
  bind(handle, "viUsbControlIn", &api.viUsbControlIn, &missing);
  bind(handle, "viUsbControlOut", &api.viUsbControlOut, &missing);
  if (missing != nullptr) {
    *why = "VISA library " + path + " has no function " + missing;
    dynlib::close(handle);
    return nullptr;
  }
  handle_ = handle;
  api_ = api;
  loaded_ = true;
  loaded_name_ = path;
  return &api_;
}

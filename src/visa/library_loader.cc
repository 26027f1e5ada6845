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

uint32_t little_endian(std::string_view bytes, size_t at, size_t size) {
  uint32_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= uint32_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
  return value;
}

}  // namespace

int pe_image_bits(std::string_view head) {
  constexpr size_t kNewHeaderOffset = 0x3C;  // DOS header: where the PE header starts
  constexpr uint32_t kMachineI386 = 0x014C;
  constexpr uint32_t kMachineAmd64 = 0x8664;
  constexpr uint32_t kMachineArm64 = 0xAA64;
  if (head.size() < kNewHeaderOffset + 4 || head.substr(0, 2) != "MZ") return 0;
  size_t pe = little_endian(head, kNewHeaderOffset, 4);
  if (pe > head.size() || head.size() - pe < 6 || head.substr(pe, 4) != std::string_view("PE\0\0", 4)) return 0;
  switch (little_endian(head, pe + 4, 2)) {
    case kMachineI386: return 32;
    case kMachineAmd64:
    case kMachineArm64: return 64;
    default: return 0;
  }
}

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

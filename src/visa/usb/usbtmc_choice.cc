#include "visa/usb/usbtmc_choice.h"

#include <cstdio>

#include "config.h"
#include "platform/clock.h"
#include "visa/library_loader.h"
#if HAVE_LIBUSB
#include "visa/usb/libusb_transport.h"
#endif

namespace usbtmc {

namespace {

class InstalledThenBuiltin : public VisaBackend {
 public:
  InstalledThenBuiltin(std::unique_ptr<VisaLibraryBackend> installed, std::unique_ptr<VisaBackend> builtin, NoteSink note)
      : installed_(std::move(installed)), builtin_(std::move(builtin)), note_(std::move(note)) {}

  const VisaApi* load(std::string* why) override {
    if (chosen_) return chosen_->load(why);
    std::string installed_why;
    if (const VisaApi* api = installed_->load(&installed_why)) {
      chosen_ = installed_.get();
      note_("VISA: the installed library " + installed_->loaded_name());
      return api;
    }
    std::string builtin_why;
    if (const VisaApi* api = builtin_ ? builtin_->load(&builtin_why) : nullptr) {
      chosen_ = builtin_.get();
      note_("VISA: the built-in USBTMC driver, as no installed VISA library could be loaded");
      return api;
    }
    *why = installed_why;
    if (!builtin_why.empty()) *why += "; " + builtin_why;
    return nullptr;
  }

 private:
  std::unique_ptr<VisaLibraryBackend> installed_;
  std::unique_ptr<VisaBackend> builtin_;
  NoteSink note_;
  VisaBackend* chosen_ = nullptr;
};

}  // namespace

void note_to_stderr(const std::string& line) {
  fprintf(stderr, "tmflash: %s\n", line.c_str());
  fflush(stderr);
}

std::unique_ptr<VisaBackend> make_builtin_usbtmc_backend(NoteSink note) {
#if HAVE_LIBUSB
  static RealClock clock;
  return make_usbtmc_backend(make_libusb_transport(), clock, std::move(note));
#else
  (void)note;
  return nullptr;
#endif
}

std::unique_ptr<VisaBackend> make_installed_then_builtin_backend(std::unique_ptr<VisaLibraryBackend> installed,
                                                                 std::unique_ptr<VisaBackend> builtin,
                                                                 NoteSink note) {
  return std::make_unique<InstalledThenBuiltin>(std::move(installed), std::move(builtin), std::move(note));
}

std::unique_ptr<VisaBackend> make_usb_backend_for_option(std::string_view option, NoteSink note) {
  if (option == "usb") {
    std::unique_ptr<VisaBackend> builtin = make_builtin_usbtmc_backend(note);
    if (builtin) return builtin;
    return std::make_unique<UnavailableVisa>(
        "this tmflash was built without libusb-1.0, so --visa=usb (the built-in USBTMC driver) is not available");
  }
  if (option.empty()) {
    return make_installed_then_builtin_backend(std::make_unique<VisaLibraryBackend>(""),
                                               make_builtin_usbtmc_backend(note), note);
  }
  return nullptr;
}

}  // namespace usbtmc

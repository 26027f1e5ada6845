// The built-in USBTMC driver among the choices of --visa.
#pragma once

#include <memory>
#include <string_view>

#include "visa/library_loader.h"
#include "visa/usb/usbtmc_visa.h"
#include "visa/visa_backend.h"

namespace usbtmc {

// Writes "tmflash: LINE" to standard error: standard output carries only the
// console text that operators compare.
void note_to_stderr(const std::string& line);

// For the value of --visa:
//   "usb"    the built-in driver over libusb; in a build without libusb a
//            backend whose load() says so
//   ""       the installed VISA library (searched under its usual names)
//            first, then the built-in driver when it is built; the first
//            load() says once, through note, which one the run uses
//   other    nullptr: not a choice of this file
std::unique_ptr<VisaBackend> make_usb_backend_for_option(std::string_view option, NoteSink note = note_to_stderr);

// The built-in driver over libusb and the real clock; nullptr in a build
// without libusb.
std::unique_ptr<VisaBackend> make_builtin_usbtmc_backend(NoteSink note);

// The first of the backends that loads; the note names the one used, or
// nothing when none loads (load() then gives every reason, joined by "; ").
// builtin may be nullptr.
std::unique_ptr<VisaBackend> make_installed_then_builtin_backend(std::unique_ptr<VisaLibraryBackend> installed,
                                                                 std::unique_ptr<VisaBackend> builtin,
                                                                 NoteSink note);

}  // namespace usbtmc

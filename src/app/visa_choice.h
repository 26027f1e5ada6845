// The VISA implementation chosen by --visa.
#pragma once

#include <memory>
#include <string>

#include "visa/visa_backend.h"

// option: the value of --visa, empty when it was not given.
//   PATH        a VISA shared library
//   sim:FILE    simulated instruments described in FILE; "sim": one default instrument
//   replay:FILE a trace of --trace=FILE played back as the instrument
//   usb         the built-in USBTMC driver over libusb
//   (empty)     the system's installed VISA library, searched under its usual
//               names, else the built-in USBTMC driver
// Nothing is loaded here: the backend loads on first use.
std::unique_ptr<VisaBackend> choose_visa_backend(const std::string& option);

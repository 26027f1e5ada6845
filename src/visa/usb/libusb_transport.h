// The transport seam over libusb-1.0 (built only with HAVE_LIBUSB).
//
// Every list_devices() and every open() makes a libusb context of its own:
// Debian's libusb learns of new devices from the udev daemon, and where none
// runs (a container, a small system, a test machine) a long-lived context
// would never see an instrument that re-enumerated after its jump. An open
// device keeps its context until it is closed.
#pragma once

#include <memory>

#include "visa/usb/usb_transport.h"

namespace usbtmc {

std::unique_ptr<UsbTransport> make_libusb_transport();

}  // namespace usbtmc

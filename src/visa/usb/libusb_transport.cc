#include "visa/usb/libusb_transport.h"

#include <libusb.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "visa/usb/usbtmc_wire.h"

namespace usbtmc {

namespace {

constexpr int kMaxPorts = 8;  // USB allows 7 tiers below the root hub

UsbResult result_of(int libusb_error) {
  switch (libusb_error) {
    case LIBUSB_SUCCESS: return UsbResult::kOk;
    case LIBUSB_ERROR_ACCESS: return UsbResult::kAccess;
    case LIBUSB_ERROR_NO_DEVICE: return UsbResult::kNoDevice;
    case LIBUSB_ERROR_BUSY: return UsbResult::kBusy;
    case LIBUSB_ERROR_TIMEOUT: return UsbResult::kTimeout;
    case LIBUSB_ERROR_PIPE: return UsbResult::kPipe;
    case LIBUSB_ERROR_OVERFLOW: return UsbResult::kOverflow;
    case LIBUSB_ERROR_NOT_FOUND: return UsbResult::kNotFound;
    case LIBUSB_ERROR_NOT_SUPPORTED: return UsbResult::kNotSupported;
    default: return UsbResult::kIo;
  }
}

// A context with its device list, given back on every return path.
class DeviceList {
 public:
  DeviceList() {
    if (libusb_init(&context_) != LIBUSB_SUCCESS) {
      context_ = nullptr;
      return;
    }
    count_ = libusb_get_device_list(context_, &list_);
    if (count_ < 0) count_ = 0;
  }
  ~DeviceList() {
    if (list_) libusb_free_device_list(list_, 1);
    if (context_ && !keep_context_) libusb_exit(context_);
  }
  bool ok() const { return context_ != nullptr; }
  ssize_t size() const { return count_; }
  libusb_device* operator[](ssize_t i) const { return list_[i]; }
  // The open handle outlives the list: its context is the handle's now.
  libusb_context* take_context() {
    keep_context_ = true;
    return context_;
  }

 private:
  libusb_context* context_ = nullptr;
  libusb_device** list_ = nullptr;
  ssize_t count_ = 0;
  bool keep_context_ = false;
};

// The serial number as the kernel read it at enumeration: no request to the
// device, and readable without permission on the device node.
std::string sysfs_serial(libusb_device* device) {
#ifdef __linux__
  uint8_t ports[kMaxPorts];
  int n = libusb_get_port_numbers(device, ports, kMaxPorts);
  if (n <= 0) return "";
  std::string path = "/sys/bus/usb/devices/" + std::to_string(libusb_get_bus_number(device)) + "-";
  for (int i = 0; i < n; ++i) path += (i ? "." : "") + std::to_string(ports[i]);
  std::ifstream in(path + "/serial");
  std::string serial;
  std::getline(in, serial);
  return serial;
#else
  (void)device;
  return "";
#endif
}

std::string descriptor_serial(libusb_device* device, uint8_t index) {
  if (index == 0) return "";
  libusb_device_handle* handle = nullptr;
  if (libusb_open(device, &handle) != LIBUSB_SUCCESS) return "";
  unsigned char text[256] = {};
  int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
  libusb_close(handle);
  return n > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<size_t>(n)) : "";
}

void read_endpoints(const libusb_interface_descriptor& alt, TmcInterface* out) {
  for (int e = 0; e < alt.bNumEndpoints; ++e) {
    const libusb_endpoint_descriptor& ep = alt.endpoint[e];
    int type = ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
    bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0;
    if (type == LIBUSB_TRANSFER_TYPE_BULK && in && out->bulk_in == 0) {
      out->bulk_in = ep.bEndpointAddress;
      out->bulk_in_packet = ep.wMaxPacketSize;
    } else if (type == LIBUSB_TRANSFER_TYPE_BULK && !in && out->bulk_out == 0) {
      out->bulk_out = ep.bEndpointAddress;
      out->bulk_out_packet = ep.wMaxPacketSize;
    } else if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT && in && out->interrupt_in == 0) {
      out->interrupt_in = ep.bEndpointAddress;
    }
  }
}

// The USBTMC interfaces of the active configuration (first alternate setting).
std::vector<TmcInterface> tmc_interfaces(libusb_device* device) {
  std::vector<TmcInterface> found;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) return found;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    if (config->interface[i].num_altsetting < 1) continue;
    const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
    if (alt.bInterfaceClass != kInterfaceClass || alt.bInterfaceSubClass != kInterfaceSubClass) continue;
    TmcInterface tmc;
    tmc.number = alt.bInterfaceNumber;
    tmc.protocol = alt.bInterfaceProtocol;
    read_endpoints(alt, &tmc);
    found.push_back(tmc);
  }
  libusb_free_config_descriptor(config);
  return found;
}

class LibusbHandle : public UsbHandle {
 public:
  LibusbHandle(libusb_context* context, libusb_device_handle* handle) : context_(context), handle_(handle) {}
  ~LibusbHandle() override {
    libusb_close(handle_);
    libusb_exit(context_);
  }

  UsbResult kernel_driver_active(uint8_t interface_number, bool* active) override {
    int r = libusb_kernel_driver_active(handle_, interface_number);
    *active = r == 1;
    return r < 0 ? result_of(r) : UsbResult::kOk;
  }
  UsbResult detach_kernel_driver(uint8_t n) override { return result_of(libusb_detach_kernel_driver(handle_, n)); }
  UsbResult attach_kernel_driver(uint8_t n) override { return result_of(libusb_attach_kernel_driver(handle_, n)); }
  UsbResult claim_interface(uint8_t n) override { return result_of(libusb_claim_interface(handle_, n)); }
  UsbResult release_interface(uint8_t n) override { return result_of(libusb_release_interface(handle_, n)); }

  UsbResult control(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t* data,
                    uint16_t wLength, uint32_t timeout_ms, int* transferred) override {
    int r = libusb_control_transfer(handle_, bmRequestType, bRequest, wValue, wIndex, data, wLength, timeout_ms);
    *transferred = r < 0 ? 0 : r;
    return r < 0 ? result_of(r) : UsbResult::kOk;
  }
  UsbResult bulk_out(uint8_t endpoint, const uint8_t* data, int length, uint32_t timeout_ms,
                     int* transferred) override {
    *transferred = 0;
    // libusb does not write to the buffer of an OUT transfer.
    return result_of(libusb_bulk_transfer(handle_, endpoint, const_cast<uint8_t*>(data), length, transferred,
                                          timeout_ms));
  }
  UsbResult bulk_in(uint8_t endpoint, uint8_t* data, int length, uint32_t timeout_ms, int* transferred) override {
    *transferred = 0;
    return result_of(libusb_bulk_transfer(handle_, endpoint, data, length, transferred, timeout_ms));
  }
  UsbResult clear_halt(uint8_t endpoint) override { return result_of(libusb_clear_halt(handle_, endpoint)); }

 private:
  libusb_context* context_;
  libusb_device_handle* handle_;
};

class LibusbTransport : public UsbTransport {
 public:
  UsbResult list_devices(std::vector<TmcDevice>* out) override {
    out->clear();
    DeviceList list;
    if (!list.ok()) return UsbResult::kIo;
    for (ssize_t i = 0; i < list.size(); ++i) {
      libusb_device_descriptor desc;
      if (libusb_get_device_descriptor(list[i], &desc) != LIBUSB_SUCCESS) continue;
      TmcDevice device;
      device.interfaces = tmc_interfaces(list[i]);
      if (device.interfaces.empty()) continue;
      device.bus = libusb_get_bus_number(list[i]);
      device.address = libusb_get_device_address(list[i]);
      device.idVendor = desc.idVendor;
      device.idProduct = desc.idProduct;
      device.serial = sysfs_serial(list[i]);
      if (device.serial.empty()) device.serial = descriptor_serial(list[i], desc.iSerialNumber);
      out->push_back(std::move(device));
    }
    return UsbResult::kOk;
  }

  UsbResult open(uint8_t bus, uint8_t address, std::unique_ptr<UsbHandle>* out) override {
    DeviceList list;
    if (!list.ok()) return UsbResult::kIo;
    for (ssize_t i = 0; i < list.size(); ++i) {
      if (libusb_get_bus_number(list[i]) != bus || libusb_get_device_address(list[i]) != address) continue;
      libusb_device_handle* handle = nullptr;
      int r = libusb_open(list[i], &handle);
      if (r != LIBUSB_SUCCESS) return result_of(r);
      *out = std::make_unique<LibusbHandle>(list.take_context(), handle);
      return UsbResult::kOk;
    }
    return UsbResult::kNoDevice;
  }
};

}  // namespace

std::unique_ptr<UsbTransport> make_libusb_transport() { return std::make_unique<LibusbTransport>(); }

}  // namespace usbtmc

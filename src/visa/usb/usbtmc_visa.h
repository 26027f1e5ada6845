// The built-in USBTMC driver behind the ten VISA calls (`--visa=usb`).
//
// viFindRsrc lists every USBTMC interface (class 0xFE, subclass 0x03) of every
// device present now, from a fresh device list, named as usb_resource.h says,
// and filters them with the search-expression matcher (search_expr.h):
// VI_ERROR_INV_EXPR for a malformed expression, VI_ERROR_RSRC_NFOUND when
// nothing matches. viOpen finds the device by vendor, product, serial and
// interface, and opens it as TmcSession::open() says: VI_ERROR_RSRC_NFOUND
// when it is not there, VI_ERROR_NPERMISSION when the device node may not be
// opened, VI_ERROR_RSRC_BUSY when another program holds the interface (each
// also told to the operator through the note sink, with what to do).
// viClose ends a session (the interface goes back to the kernel's driver if
// it had one) or a find list; closing a resource manager ends everything
// opened through it. Handles are never reused; a closed or unknown one gives
// VI_ERROR_INV_OBJECT. viSetAttribute knows VI_ATTR_TMO_VALUE of an instrument
// session (VI_ERROR_NSUP_ATTR for others, VI_ERROR_INV_PARAMETER above 32
// bits). viWrite, viRead, viUsbControlIn and viUsbControlOut are the
// session's (usbtmc_session.h). Calls must come from one thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "visa/usb/usb_transport.h"
#include "visa/usb/usbtmc_session.h"
#include "visa/visa_backend.h"
#include "visa/visa_types.h"

namespace usbtmc {

// Where the driver tells the operator what to do about a device it cannot
// use (tmflash: standard error, one line each, without the line end).
using NoteSink = std::function<void(const std::string& line)>;

// The udev rule file that tmflash ships, for the notes.
inline constexpr char kUdevRuleFile[] = "70-tmflash.rules";

class UsbtmcVisa {
 public:
  // transport and clock must outlive the driver.
  UsbtmcVisa(UsbTransport& transport, Clock& clock, NoteSink note);
  ~UsbtmcVisa();
  UsbtmcVisa(const UsbtmcVisa&) = delete;
  UsbtmcVisa& operator=(const UsbtmcVisa&) = delete;

  ViStatus viOpenDefaultRM(ViSession* rm);
  ViStatus viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* retCnt, char desc[]);
  ViStatus viFindNext(ViFindList list, char desc[]);
  ViStatus viOpen(ViSession rm, const char* rsrcName, ViAccessMode mode, ViUInt32 openTimeout, ViSession* vi);
  ViStatus viClose(ViObject obj);
  ViStatus viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value);
  ViStatus viWrite(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* retCnt);
  ViStatus viRead(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* retCnt);
  ViStatus viUsbControlIn(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                          ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf, ViUInt16* retCnt);
  ViStatus viUsbControlOut(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                           ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf);

  // Handles (resource managers, find lists, sessions) not yet closed.
  size_t open_handles() const { return objects_.size(); }
  // The session behind vi, or nullptr (tests).
  TmcSession* session(ViSession vi);

 private:
  struct Object;
  Object* object(ViObject h, int kinds);
  ViStatus open_session(const std::string& rsrc, const TmcDevice& device, const TmcInterface& interface,
                        std::unique_ptr<TmcSession>* out);
  void note_once(const std::string& key, const std::string& line);
  void close_object(ViObject h);

  UsbTransport& transport_;
  Clock& clock_;
  NoteSink note_;
  std::map<ViObject, Object> objects_;
  ViObject next_handle_ = 1;
  std::set<std::string> noted_;
};

// The table of the ten functions, forwarding to the active driver; while
// none is active every call gives VI_ERROR_SYSTEM_ERROR. One at a time, as
// the VISA C functions carry no pointer of ours.
const VisaApi* usbtmc_visa_api();
void set_active_usbtmc(UsbtmcVisa* driver);
UsbtmcVisa* active_usbtmc();

// A backend over a transport: load() builds the driver (once) and makes it
// the active one; destroying the backend deactivates and closes it.
std::unique_ptr<VisaBackend> make_usbtmc_backend(std::unique_ptr<UsbTransport> transport, Clock& clock,
                                                 NoteSink note);

// The device node of bus/address, /dev/bus/usb/BBB/DDD, for messages.
std::string device_node(uint8_t bus, uint8_t address);

}  // namespace usbtmc

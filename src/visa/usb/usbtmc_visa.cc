#include "visa/usb/usbtmc_visa.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "visa/search_expr.h"
#include "visa/usb/usb_resource.h"
#include "visa/visa_forwarding.h"

namespace usbtmc {

namespace {

enum ObjectKind { kRm = 1, kList = 2, kSession = 4, kAnyObject = 7 };

// desc buffers hold VI_FIND_BUFLEN bytes.
void copy_desc(char* desc, const std::string& rsrc) {
  if (!desc) return;
  size_t n = std::min(rsrc.size(), static_cast<size_t>(VI_FIND_BUFLEN - 1));
  memcpy(desc, rsrc.data(), n);
  desc[n] = '\0';
}

std::string rsrc_of(const TmcDevice& d, const TmcInterface& i) {
  UsbResource r;
  r.idVendor = d.idVendor;
  r.idProduct = d.idProduct;
  r.serial = d.serial;
  r.interface_number = i.number;
  return format_usb_resource(r);
}

bool is_tmc(const TmcInterface& i) { return i.bulk_in != 0 && i.bulk_out != 0; }

}  // namespace

std::string device_node(uint8_t bus, uint8_t address) {
  char node[32];
  snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", bus, address);
  return node;
}

struct UsbtmcVisa::Object {
  int kind = kRm;
  ViSession rm = 0;                 // the resource manager it was opened through
  std::vector<std::string> found;   // kList
  size_t next = 0;                  // kList
  std::unique_ptr<TmcSession> session;  // kSession
};

UsbtmcVisa::UsbtmcVisa(UsbTransport& transport, Clock& clock, NoteSink note)
    : transport_(transport), clock_(clock), note_(std::move(note)) {}

UsbtmcVisa::~UsbtmcVisa() = default;

UsbtmcVisa::Object* UsbtmcVisa::object(ViObject h, int kinds) {
  auto it = objects_.find(h);
  if (it == objects_.end() || !(it->second.kind & kinds)) return nullptr;
  return &it->second;
}

TmcSession* UsbtmcVisa::session(ViSession vi) {
  Object* s = object(vi, kSession);
  return s ? s->session.get() : nullptr;
}

void UsbtmcVisa::note_once(const std::string& key, const std::string& line) {
  if (note_ && noted_.insert(key).second) note_(line);
}

// --- Resource manager, search, open, close ----------------------------------

ViStatus UsbtmcVisa::viOpenDefaultRM(ViSession* rm) {
  if (!rm) return VI_ERROR_INV_PARAMETER;
  *rm = next_handle_++;
  objects_[*rm] = Object{};
  return VI_SUCCESS;
}

ViStatus UsbtmcVisa::viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* retCnt, char desc[]) {
  if (list) *list = 0;
  if (retCnt) *retCnt = 0;
  copy_desc(desc, "");
  if (!object(rm, kRm)) return VI_ERROR_INV_OBJECT;
  if (!expr || visa_search_match(expr, "") == SearchMatch::kInvalid) return VI_ERROR_INV_EXPR;
  std::vector<TmcDevice> devices;
  if (transport_.list_devices(&devices) != UsbResult::kOk) return VI_ERROR_RSRC_NFOUND;
  Object found;
  found.kind = kList;
  found.rm = rm;
  for (const TmcDevice& d : devices) {
    if (d.serial.empty()) {
      note_once("serial " + device_node(d.bus, d.address),
                "USB instrument " + device_node(d.bus, d.address) +
                    ": its serial number cannot be read, so it is not listed (check its permissions)");
      continue;
    }
    for (const TmcInterface& i : d.interfaces) {
      std::string rsrc = rsrc_of(d, i);
      if (is_tmc(i) && visa_search_match(expr, rsrc) == SearchMatch::kMatch) found.found.push_back(rsrc);
    }
  }
  if (found.found.empty()) return VI_ERROR_RSRC_NFOUND;
  ViFindList h = next_handle_++;
  found.next = 1;
  copy_desc(desc, found.found[0]);
  if (retCnt) *retCnt = static_cast<ViUInt32>(found.found.size());
  if (list) *list = h;
  objects_[h] = std::move(found);
  return VI_SUCCESS;
}

ViStatus UsbtmcVisa::viFindNext(ViFindList list, char desc[]) {
  copy_desc(desc, "");
  Object* l = object(list, kList);
  if (!l) return VI_ERROR_INV_OBJECT;
  if (l->next >= l->found.size()) return VI_ERROR_RSRC_NFOUND;
  copy_desc(desc, l->found[l->next++]);
  return VI_SUCCESS;
}

ViStatus UsbtmcVisa::viOpen(ViSession rm, const char* rsrcName, ViAccessMode, ViUInt32, ViSession* vi) {
  if (vi) *vi = 0;
  if (!object(rm, kRm)) return VI_ERROR_INV_OBJECT;
  if (!vi) return VI_ERROR_INV_PARAMETER;
  UsbResource want;
  if (!rsrcName || !parse_usb_resource(rsrcName, &want)) return VI_ERROR_INV_RSRC_NAME;
  if (want.board != 0) return VI_ERROR_RSRC_NFOUND;
  std::vector<TmcDevice> devices;
  if (transport_.list_devices(&devices) != UsbResult::kOk) return VI_ERROR_RSRC_NFOUND;
  for (const TmcDevice& d : devices) {
    if (d.idVendor != want.idVendor || d.idProduct != want.idProduct || d.serial != want.serial) continue;
    for (const TmcInterface& i : d.interfaces) {
      if (i.number != want.interface_number || !is_tmc(i)) continue;
      Object s;
      s.kind = kSession;
      s.rm = rm;
      ViStatus status = open_session(rsrc_of(d, i), d, i, &s.session);
      if (status != VI_SUCCESS) return status;
      *vi = next_handle_++;
      objects_[*vi] = std::move(s);
      return VI_SUCCESS;
    }
  }
  return VI_ERROR_RSRC_NFOUND;
}

ViStatus UsbtmcVisa::open_session(const std::string& rsrc, const TmcDevice& device, const TmcInterface& interface,
                                  std::unique_ptr<TmcSession>* out) {
  const std::string node = device_node(device.bus, device.address);
  std::unique_ptr<UsbHandle> handle;
  UsbResult r = transport_.open(device.bus, device.address, &handle);
  if (r == UsbResult::kOk) {
    auto session = std::make_unique<TmcSession>(std::move(handle), interface, clock_);
    r = session->open();
    if (r == UsbResult::kOk) *out = std::move(session);
  }
  switch (r) {
    case UsbResult::kOk: return VI_SUCCESS;
    case UsbResult::kNoDevice:
    case UsbResult::kNotFound: return VI_ERROR_RSRC_NFOUND;
    case UsbResult::kAccess:
      note_(rsrc + ": permission denied on " + node + "; install the udev rule " + kUdevRuleFile +
            " that comes with tmflash, add this user to its group usbtmc, then plug the instrument in again"
            " (see the README, \"Real instruments\")");
      return VI_ERROR_NPERMISSION;
    case UsbResult::kBusy:
      note_(rsrc + ": interface " + std::to_string(interface.number) + " of " + node +
            " is in use by another program (another VISA session or script); close it and try again");
      return VI_ERROR_RSRC_BUSY;
    default:
      note_(rsrc + ": cannot open " + node + ": " + usb_result_name(r));
      return VI_ERROR_IO;
  }
}

void UsbtmcVisa::close_object(ViObject h) {
  auto it = objects_.find(h);
  if (it == objects_.end()) return;
  if (it->second.kind == kRm) {
    for (auto o = objects_.begin(); o != objects_.end();) {
      o = (o->second.rm == h && o->first != h) ? objects_.erase(o) : std::next(o);
    }
  }
  objects_.erase(h);  // a session's destructor gives the interface back
}

ViStatus UsbtmcVisa::viClose(ViObject obj) {
  if (!object(obj, kAnyObject)) return VI_ERROR_INV_OBJECT;
  close_object(obj);
  return VI_SUCCESS;
}

ViStatus UsbtmcVisa::viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value) {
  Object* o = object(vi, kAnyObject);
  if (!o) return VI_ERROR_INV_OBJECT;
  if (attr != VI_ATTR_TMO_VALUE || o->kind != kSession) return VI_ERROR_NSUP_ATTR;
  // A caller that declared ViAttrState 32 bits wide leaves garbage above them.
  // (A shift, not a comparison: where ViAttrState is 32 bits wide there is
  // nothing above them, and a comparison would be one that cannot be true.)
  if ((static_cast<uint64_t>(value) >> 32) != 0) return VI_ERROR_INV_PARAMETER;
  o->session->set_timeout_ms(static_cast<uint32_t>(value));
  return VI_SUCCESS;
}

// --- I/O ---------------------------------------------------------------------

ViStatus UsbtmcVisa::viWrite(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
  if (retCnt) *retCnt = 0;
  TmcSession* s = session(vi);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (!buf && count != 0) return VI_ERROR_INV_PARAMETER;
  ViUInt32 written = 0;
  ViStatus status = s->write(buf, count, &written);
  if (retCnt) *retCnt = written;
  return status;
}

ViStatus UsbtmcVisa::viRead(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
  if (retCnt) *retCnt = 0;
  TmcSession* s = session(vi);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (!buf && count != 0) return VI_ERROR_INV_PARAMETER;
  ViUInt32 got = 0;
  ViStatus status = s->read(buf, count, &got);
  if (retCnt) *retCnt = got;
  return status;
}

ViStatus UsbtmcVisa::viUsbControlIn(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                                    ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf, ViUInt16* retCnt) {
  if (retCnt) *retCnt = 0;
  TmcSession* s = session(vi);
  if (!s) return VI_ERROR_INV_OBJECT;
  if ((!buf && wLength != 0) || bmRequestType < 0 || bmRequestType > 0xFF || bRequest < 0 || bRequest > 0xFF)
    return VI_ERROR_INV_PARAMETER;
  ViUInt16 got = 0;
  ViStatus status = s->control_in(static_cast<uint8_t>(bmRequestType), static_cast<uint8_t>(bRequest), wValue, wIndex,
                                  wLength, buf, &got);
  if (retCnt) *retCnt = got;
  return status;
}

ViStatus UsbtmcVisa::viUsbControlOut(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                                     ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf) {
  TmcSession* s = session(vi);
  if (!s) return VI_ERROR_INV_OBJECT;
  if ((!buf && wLength != 0) || bmRequestType < 0 || bmRequestType > 0xFF || bRequest < 0 || bRequest > 0xFF)
    return VI_ERROR_INV_PARAMETER;
  return s->control_out(static_cast<uint8_t>(bmRequestType), static_cast<uint8_t>(bRequest), wValue, wIndex,
                        wLength, buf);
}

// --- The forwarding table and the backend ---------------------------------

namespace {

UsbtmcVisa* g_active = nullptr;

using Forwarding = VisaForwarding<UsbtmcVisa, &g_active>;

class UsbtmcBackend : public VisaBackend {
 public:
  UsbtmcBackend(std::unique_ptr<UsbTransport> transport, Clock& clock, NoteSink note)
      : transport_(std::move(transport)), clock_(clock), note_(std::move(note)) {}
  ~UsbtmcBackend() override {
    if (driver_ && g_active == driver_.get()) g_active = nullptr;
  }
  const VisaApi* load(std::string*) override {
    if (!driver_) driver_ = std::make_unique<UsbtmcVisa>(*transport_, clock_, note_);
    g_active = driver_.get();
    return &Forwarding::table;
  }

 private:
  std::unique_ptr<UsbTransport> transport_;
  Clock& clock_;
  NoteSink note_;
  std::unique_ptr<UsbtmcVisa> driver_;  // after transport_: goes first
};

}  // namespace

const VisaApi* usbtmc_visa_api() { return &Forwarding::table; }
void set_active_usbtmc(UsbtmcVisa* driver) { g_active = driver; }
UsbtmcVisa* active_usbtmc() { return g_active; }

std::unique_ptr<VisaBackend> make_usbtmc_backend(std::unique_ptr<UsbTransport> transport, Clock& clock,
                                                 NoteSink note) {
  return std::make_unique<UsbtmcBackend>(std::move(transport), clock, std::move(note));
}

const char* usb_result_name(UsbResult r) {
  switch (r) {
    case UsbResult::kOk: return "success";
    case UsbResult::kIo: return "input/output error";
    case UsbResult::kAccess: return "permission denied";
    case UsbResult::kNoDevice: return "no such device (it may have been disconnected)";
    case UsbResult::kBusy: return "resource busy";
    case UsbResult::kTimeout: return "time-out";
    case UsbResult::kPipe: return "stalled";
    case UsbResult::kOverflow: return "overflow";
    case UsbResult::kNotFound: return "not found";
    case UsbResult::kNotSupported: return "not supported on this system";
  }
  return "unknown error";
}

}  // namespace usbtmc

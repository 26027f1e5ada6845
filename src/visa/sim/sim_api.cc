#include "visa/sim/sim_api.h"

namespace sim {

namespace {

Simulator* g_active = nullptr;

ViStatus TM_VISA_CALL open_default_rm(ViSession* rm) {
  return g_active ? g_active->viOpenDefaultRM(rm) : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TM_VISA_CALL find_rsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* retCnt,
                                char desc[]) {
  return g_active ? g_active->viFindRsrc(rm, expr, list, retCnt, desc) : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TM_VISA_CALL find_next(ViFindList list, char desc[]) {
  return g_active ? g_active->viFindNext(list, desc) : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TM_VISA_CALL open(ViSession rm, const char* rsrcName, ViAccessMode mode, ViUInt32 openTimeout,
                           ViSession* vi) {
  return g_active ? g_active->viOpen(rm, rsrcName, mode, openTimeout, vi) : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TM_VISA_CALL close(ViObject obj) { return g_active ? g_active->viClose(obj) : VI_ERROR_SYSTEM_ERROR; }

ViStatus TM_VISA_CALL set_attribute(ViObject vi, ViAttr attr, ViAttrState value) {
  return g_active ? g_active->viSetAttribute(vi, attr, value) : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TM_VISA_CALL write(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
  return g_active ? g_active->viWrite(vi, buf, count, retCnt) : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TM_VISA_CALL read(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
  return g_active ? g_active->viRead(vi, buf, count, retCnt) : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TM_VISA_CALL control_in(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                                 ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf, ViUInt16* retCnt) {
  return g_active ? g_active->viUsbControlIn(vi, bmRequestType, bRequest, wValue, wIndex, wLength, buf, retCnt)
                  : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TM_VISA_CALL control_out(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                                  ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf) {
  return g_active ? g_active->viUsbControlOut(vi, bmRequestType, bRequest, wValue, wIndex, wLength, buf)
                  : VI_ERROR_SYSTEM_ERROR;
}

constexpr VisaApi kForwardingApi = {
    open_default_rm, find_rsrc, find_next, open, close, set_attribute, write, read, control_in, control_out,
};

}  // namespace

const VisaApi* simulator_visa_api() { return &kForwardingApi; }

void set_active_simulator(Simulator* sim) { g_active = sim; }

Simulator* active_simulator() { return g_active; }

}  // namespace sim

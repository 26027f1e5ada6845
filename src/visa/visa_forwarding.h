// A table of the ten VISA functions that forwards every call to the object
// *Active points to now (VI_ERROR_SYSTEM_ERROR while it points to none).
//
// The VISA C functions carry no pointer of ours, so a backend that is an
// object (the simulator, the built-in USBTMC driver) is reached through one
// active instance per process. Impl has the ten calls as member functions
// with the C ABI's arguments.
#pragma once

#include "visa/visa_types.h"

template <typename Impl, Impl** Active>
struct VisaForwarding {
  static ViStatus TM_VISA_CALL open_default_rm(ViSession* rm) {
    return *Active ? (*Active)->viOpenDefaultRM(rm) : VI_ERROR_SYSTEM_ERROR;
  }
  static ViStatus TM_VISA_CALL find_rsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* retCnt,
                                         char desc[]) {
    return *Active ? (*Active)->viFindRsrc(rm, expr, list, retCnt, desc) : VI_ERROR_SYSTEM_ERROR;
  }
  static ViStatus TM_VISA_CALL find_next(ViFindList list, char desc[]) {
    return *Active ? (*Active)->viFindNext(list, desc) : VI_ERROR_SYSTEM_ERROR;
  }
  static ViStatus TM_VISA_CALL open(ViSession rm, const char* rsrcName, ViAccessMode mode, ViUInt32 openTimeout,
                                    ViSession* vi) {
    return *Active ? (*Active)->viOpen(rm, rsrcName, mode, openTimeout, vi) : VI_ERROR_SYSTEM_ERROR;
  }
  static ViStatus TM_VISA_CALL close(ViObject obj) { return *Active ? (*Active)->viClose(obj) : VI_ERROR_SYSTEM_ERROR; }
  static ViStatus TM_VISA_CALL set_attribute(ViObject vi, ViAttr attr, ViAttrState value) {
    return *Active ? (*Active)->viSetAttribute(vi, attr, value) : VI_ERROR_SYSTEM_ERROR;
  }
  static ViStatus TM_VISA_CALL write(ViSession vi, const unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
    return *Active ? (*Active)->viWrite(vi, buf, count, retCnt) : VI_ERROR_SYSTEM_ERROR;
  }
  static ViStatus TM_VISA_CALL read(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
    return *Active ? (*Active)->viRead(vi, buf, count, retCnt) : VI_ERROR_SYSTEM_ERROR;
  }
  static ViStatus TM_VISA_CALL control_in(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                                          ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf, ViUInt16* retCnt) {
    return *Active ? (*Active)->viUsbControlIn(vi, bmRequestType, bRequest, wValue, wIndex, wLength, buf, retCnt)
                   : VI_ERROR_SYSTEM_ERROR;
  }
  static ViStatus TM_VISA_CALL control_out(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest, ViUInt16 wValue,
                                           ViUInt16 wIndex, ViUInt16 wLength, unsigned char* buf) {
    return *Active ? (*Active)->viUsbControlOut(vi, bmRequestType, bRequest, wValue, wIndex, wLength, buf)
                   : VI_ERROR_SYSTEM_ERROR;
  }

  static constexpr VisaApi table = {
      open_default_rm, find_rsrc, find_next, open, close, set_attribute, write, read, control_in, control_out,
  };
};

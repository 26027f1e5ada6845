// Our own declarations of the VISA C interface: the types, status codes and
// attributes that tmflash uses, and the table of the ten functions through
// which all instrument I/O goes. Written from the IVI VISA facts, not copied
// from any vendor header.
#pragma once

#include <cstdint>

// 32-bit Windows VISA libraries use __stdcall; a pointer type without it
// corrupts the stack on every call. Everywhere else the default convention.
#if defined(_WIN32) && !defined(_WIN64)
#define TM_VISA_CALL __stdcall
#else
#define TM_VISA_CALL
#endif

// For a library that exports the ten functions itself (the simulator
// library, the loader's test fixtures). On 32-bit Windows the names must
// also be linked undecorated (--kill-at), as VISA libraries export them.
#if defined(_WIN32)
#define TM_VISA_EXPORT extern "C" __declspec(dllexport)
#else
#define TM_VISA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using ViStatus = int32_t;
using ViSession = uint32_t;  // handles are integers, not pointers
using ViObject = uint32_t;
using ViFindList = uint32_t;
using ViUInt32 = uint32_t;
using ViAttr = uint32_t;
using ViAccessMode = uint32_t;
using ViInt16 = int16_t;
using ViUInt16 = uint16_t;
// ViAttrState is as wide as a pointer: a 32-bit declaration on a 64-bit
// target leaves the upper half of the register undefined.
#if UINTPTR_MAX > 0xFFFFFFFFu
using ViAttrState = uint64_t;
#else
using ViAttrState = uint32_t;
#endif

// Completion codes are positive, errors negative.
constexpr ViStatus VI_SUCCESS = 0;
constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
constexpr ViStatus VI_ERROR_SYSTEM_ERROR = static_cast<ViStatus>(0xBFFF0000u);
constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000Eu);
constexpr ViStatus VI_ERROR_INV_EXPR = static_cast<ViStatus>(0xBFFF0010u);
constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011u);
constexpr ViStatus VI_ERROR_INV_RSRC_NAME = static_cast<ViStatus>(0xBFFF0012u);
constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015u);
constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001Du);
constexpr ViStatus VI_ERROR_IO = static_cast<ViStatus>(0xBFFF003Eu);
constexpr ViStatus VI_ERROR_NSUP_OPER = static_cast<ViStatus>(0xBFFF0067u);
constexpr ViStatus VI_ERROR_RSRC_BUSY = static_cast<ViStatus>(0xBFFF0072u);
constexpr ViStatus VI_ERROR_INV_PARAMETER = static_cast<ViStatus>(0xBFFF0078u);
constexpr ViStatus VI_ERROR_LIBRARY_NFOUND = static_cast<ViStatus>(0xBFFF009Eu);
constexpr ViStatus VI_ERROR_CONN_LOST = static_cast<ViStatus>(0xBFFF00A6u);
constexpr ViStatus VI_ERROR_NPERMISSION = static_cast<ViStatus>(0xBFFF00A8u);

constexpr ViAccessMode VI_NULL = 0;
constexpr int VI_FIND_BUFLEN = 256;
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001Au;
constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFu;

// The ten VISA functions, as typed pointers. One table is the seam: the
// library loader, the USBTMC driver and the simulated instruments each fill one.
struct VisaApi {
  ViStatus(TM_VISA_CALL* viOpenDefaultRM)(ViSession* rm);
  ViStatus(TM_VISA_CALL* viFindRsrc)(ViSession rm, const char* expr, ViFindList* list,
                                     ViUInt32* retCnt, char desc[]);
  ViStatus(TM_VISA_CALL* viFindNext)(ViFindList list, char desc[]);
  ViStatus(TM_VISA_CALL* viOpen)(ViSession rm, const char* rsrcName, ViAccessMode mode,
                                 ViUInt32 openTimeout, ViSession* vi);
  ViStatus(TM_VISA_CALL* viClose)(ViObject obj);
  ViStatus(TM_VISA_CALL* viSetAttribute)(ViObject vi, ViAttr attr, ViAttrState value);
  ViStatus(TM_VISA_CALL* viWrite)(ViSession vi, const unsigned char* buf, ViUInt32 count,
                                  ViUInt32* retCnt);
  ViStatus(TM_VISA_CALL* viRead)(ViSession vi, unsigned char* buf, ViUInt32 count,
                                 ViUInt32* retCnt);
  ViStatus(TM_VISA_CALL* viUsbControlIn)(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest,
                                         ViUInt16 wValue, ViUInt16 wIndex, ViUInt16 wLength,
                                         unsigned char* buf, ViUInt16* retCnt);
  ViStatus(TM_VISA_CALL* viUsbControlOut)(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest,
                                          ViUInt16 wValue, ViUInt16 wIndex, ViUInt16 wLength,
                                          unsigned char* buf);
};

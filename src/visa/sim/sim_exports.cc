// The simulated instruments as a shared library with the VISA C ABI
// (libtmflash_simvisa.so, tmflash_simvisa.dll), so that the updater's library loader and the built
// program can be run end to end against them, exactly as against a vendor's
// VISA library.
//
// The simulator is built on the first call, from the description file named
// by the environment variable TMFLASH_SIM (sim_file.h), or with the one
// default instrument when it is not set, and runs in real time. When the file
// cannot be used, the reason goes to standard error once and every call gives
// VI_ERROR_SYSTEM_ERROR. One process, one simulator, one thread.
#include <cstdio>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/native.h"
#include "visa/sim/sim_file.h"
#include "visa/sim/simulator.h"
#include "visa/visa_types.h"

namespace {

sim::Simulator* build_simulator() {
  static RealClock clock;
  sim::SimConfig config = sim::default_sim_config();
  const std::string path = environment_variable("TMFLASH_SIM");
  std::string why;
  if (!path.empty() && !sim::load_sim_description(path, &config, &why)) {
    fprintf(stderr, "tmflash simulator: %s\n", why.c_str());
    return nullptr;
  }
  auto* simulator = new sim::Simulator(config, clock);
  if (!config.transcript_path.empty() && !simulator->transcript_file_open()) {
    fprintf(stderr, "tmflash simulator: %s: cannot open the transcript file %s\n", path.c_str(),
            config.transcript_path.c_str());
  }
  return simulator;
}

// Built once and kept until the process ends: a VISA library's state lives as
// long as the process, and nothing may run after a destructor took it away.
sim::Simulator* simulator() {
  static sim::Simulator* instance = build_simulator();
  return instance;
}

}  // namespace

TM_VISA_EXPORT ViStatus TM_VISA_CALL viOpenDefaultRM(ViSession* rm) {
  sim::Simulator* s = simulator();
  return s ? s->viOpenDefaultRM(rm) : VI_ERROR_SYSTEM_ERROR;
}

TM_VISA_EXPORT ViStatus TM_VISA_CALL viFindRsrc(ViSession rm, const char* expr, ViFindList* list, ViUInt32* retCnt,
                                              char desc[]) {
  sim::Simulator* s = simulator();
  return s ? s->viFindRsrc(rm, expr, list, retCnt, desc) : VI_ERROR_SYSTEM_ERROR;
}

TM_VISA_EXPORT ViStatus TM_VISA_CALL viFindNext(ViFindList list, char desc[]) {
  sim::Simulator* s = simulator();
  return s ? s->viFindNext(list, desc) : VI_ERROR_SYSTEM_ERROR;
}

TM_VISA_EXPORT ViStatus TM_VISA_CALL viOpen(ViSession rm, const char* rsrcName, ViAccessMode mode,
                                          ViUInt32 openTimeout, ViSession* vi) {
  sim::Simulator* s = simulator();
  return s ? s->viOpen(rm, rsrcName, mode, openTimeout, vi) : VI_ERROR_SYSTEM_ERROR;
}

TM_VISA_EXPORT ViStatus TM_VISA_CALL viClose(ViObject obj) {
  sim::Simulator* s = simulator();
  return s ? s->viClose(obj) : VI_ERROR_SYSTEM_ERROR;
}

TM_VISA_EXPORT ViStatus TM_VISA_CALL viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value) {
  sim::Simulator* s = simulator();
  return s ? s->viSetAttribute(vi, attr, value) : VI_ERROR_SYSTEM_ERROR;
}

TM_VISA_EXPORT ViStatus TM_VISA_CALL viWrite(ViSession vi, const unsigned char* buf, ViUInt32 count,
                                           ViUInt32* retCnt) {
  sim::Simulator* s = simulator();
  return s ? s->viWrite(vi, buf, count, retCnt) : VI_ERROR_SYSTEM_ERROR;
}

TM_VISA_EXPORT ViStatus TM_VISA_CALL viRead(ViSession vi, unsigned char* buf, ViUInt32 count, ViUInt32* retCnt) {
  sim::Simulator* s = simulator();
  return s ? s->viRead(vi, buf, count, retCnt) : VI_ERROR_SYSTEM_ERROR;
}

TM_VISA_EXPORT ViStatus TM_VISA_CALL viUsbControlIn(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest,
                                                  ViUInt16 wValue, ViUInt16 wIndex, ViUInt16 wLength,
                                                  unsigned char* buf, ViUInt16* retCnt) {
  sim::Simulator* s = simulator();
  return s ? s->viUsbControlIn(vi, bmRequestType, bRequest, wValue, wIndex, wLength, buf, retCnt)
           : VI_ERROR_SYSTEM_ERROR;
}

TM_VISA_EXPORT ViStatus TM_VISA_CALL viUsbControlOut(ViSession vi, ViInt16 bmRequestType, ViInt16 bRequest,
                                                   ViUInt16 wValue, ViUInt16 wIndex, ViUInt16 wLength,
                                                   unsigned char* buf) {
  sim::Simulator* s = simulator();
  return s ? s->viUsbControlOut(vi, bmRequestType, bRequest, wValue, wIndex, wLength, buf) : VI_ERROR_SYSTEM_ERROR;
}

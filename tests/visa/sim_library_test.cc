// The simulator library with the VISA C ABI, loaded the way a VISA library
// is: dlopen or LoadLibrary, then the ten names. The library builds its simulator
// once per process, on the first call, so each case runs in a child process
// of its own (a gtest death test that exits 0 when every check held) and
// reports the first failed check on standard error.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/environment.h"
#include "support/temp_dir.h"
#include "visa/library_loader.h"
#include "visa/visa_types.h"

#ifdef TMFLASH_SIM_LIBRARY

namespace {

#define CHILD_CHECK(cond)                                              \
  do {                                                                 \
    if (!(cond)) {                                                     \
      fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #cond); \
      _exit(1);                                                        \
    }                                                                  \
  } while (0)

template <typename F>
void bind(void* lib, const char* name, F* slot) {
  *slot = reinterpret_cast<F>(dynlib::symbol(lib, name));
  if (!*slot) {
    fprintf(stderr, "missing symbol %s\n", name);
    _exit(1);
  }
}

VisaApi load_library() {
  std::string why;
  void* lib = dynlib::open(TMFLASH_SIM_LIBRARY, &why);
  if (!lib) {
    fprintf(stderr, "%s\n", why.c_str());
    _exit(1);
  }
  VisaApi api{};
  bind(lib, "viOpenDefaultRM", &api.viOpenDefaultRM);
  bind(lib, "viFindRsrc", &api.viFindRsrc);
  bind(lib, "viFindNext", &api.viFindNext);
  bind(lib, "viOpen", &api.viOpen);
  bind(lib, "viClose", &api.viClose);
  bind(lib, "viSetAttribute", &api.viSetAttribute);
  bind(lib, "viWrite", &api.viWrite);
  bind(lib, "viRead", &api.viRead);
  bind(lib, "viUsbControlIn", &api.viUsbControlIn);
  bind(lib, "viUsbControlOut", &api.viUsbControlOut);
  return api;
}

ViStatus write_bytes(const VisaApi& api, ViSession vi, const std::string& bytes) {
  ViUInt32 count = 0;
  return api.viWrite(vi, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<ViUInt32>(bytes.size()),
                     &count);
}

std::string read_reply(const VisaApi& api, ViSession vi) {
  unsigned char buf[100];
  ViUInt32 count = 0;
  CHILD_CHECK(api.viRead(vi, buf, sizeof buf, &count) == VI_SUCCESS);
  return std::string(reinterpret_cast<char*>(buf), count);
}

std::string transcript_without_times(const std::string& path) {
  std::ifstream in(path);
  std::string out;
  for (std::string line; std::getline(in, line);) out += line.substr(line.find(' ') + 1) + "\n";
  return out;
}

// The transcript the library writes of the conversation below, without the times.
const char kConversationCalls[] =
    "viOpenDefaultRM -> VI_SUCCESS rm=1\n"
    "viFindRsrc rm=1 expr=\"USB[0-9]*::?*::INSTR\" -> VI_SUCCESS list=2 count=1 "
    "desc=\"USB0::0x1::0x2::LIB1::INSTR\"\n"
    "viFindNext list=2 -> VI_ERROR_RSRC_NFOUND\n"
    "viOpen rm=1 rsrc=\"USB0::0x1::0x2::LIB1::INSTR\" mode=0 timeout=1000 -> VI_SUCCESS vi=3 [lib]\n"
    "viSetAttribute obj=3 attr=0x3FFF001A value=2000 -> VI_SUCCESS\n"
    "viWrite vi=3 [lib] \"*IDN?\\n\" -> VI_SUCCESS count=6\n"
    "viRead vi=3 [lib] max=100 -> VI_SUCCESS \"LIB,1\\n\"\n"
    "viUsbControlIn vi=3 [lib] 0xC0 0 0 0 10 -> VI_SUCCESS \"mf_1.03\"\n"
    "viUsbControlOut vi=3 [lib] 0x40 0 0 0 0 \"\" -> VI_SUCCESS\n"
    "viWrite vi=3 [lib] \"*IDN?\\n\" -> VI_ERROR_CONN_LOST count=0\n"
    "viClose obj=3 -> VI_SUCCESS\n"
    "viFindRsrc rm=1 expr=\"USB[0-9]*::?*::INSTR\" -> VI_SUCCESS list=4 count=1 "
    "desc=\"USB0::0x1::0x3::LIB1::INSTR\"\n"
    "viOpen rm=1 rsrc=\"USB0::0x1::0x3::LIB1::INSTR\" mode=0 timeout=1000 -> VI_SUCCESS vi=5 [lib]\n"
    "viWrite vi=5 [lib] \"&\\x08$\" -> VI_SUCCESS count=3\n"
    "viRead vi=5 [lib] max=100 -> VI_SUCCESS \"2.05#0#HW3\"\n"
    "viWrite vi=5 [lib] \"\\\"&e@00000000$\\\"\" -> VI_SUCCESS count=14\n"
    "viRead vi=5 [lib] max=100 -> VI_SUCCESS \"e\\n\"\n"
    "viWrite vi=5 [lib] \"\\\"&w@00000000$\\\"\" -> VI_SUCCESS count=14\n"
    "viRead vi=5 [lib] max=100 -> VI_SUCCESS \"w\\n\"\n"
    "viWrite vi=5 [lib] \"&\\x02#\\xAB\\xCD$\" -> VI_SUCCESS count=6\n"
    "viRead vi=5 [lib] max=100 -> VI_SUCCESS \"d\\n\"\n"
    "viClose obj=1 -> VI_SUCCESS\n"
    "viClose obj=5 -> VI_ERROR_INV_OBJECT\n";

// A whole update conversation over the library: search, identity, jump by
// the device request, the bootloader under its new string, one small image;
// then the transcript the library wrote as it went. The check is made here,
// in the child: on Windows a death test's child runs the test from its start
// again, with a directory (and log) of its own.
void run_update_conversation(const std::string& log) {
  VisaApi api = load_library();
  ViSession rm = 0;
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN] = "";
  CHILD_CHECK(api.viOpenDefaultRM(&rm) == VI_SUCCESS);
  CHILD_CHECK(api.viFindRsrc(rm, "USB[0-9]*::?*::INSTR", &list, &count, desc) == VI_SUCCESS);
  CHILD_CHECK(count == 1 && std::string(desc) == "USB0::0x1::0x2::LIB1::INSTR");
  CHILD_CHECK(api.viFindNext(list, desc) == VI_ERROR_RSRC_NFOUND);
  ViSession vi = 0;
  CHILD_CHECK(api.viOpen(rm, "USB0::0x1::0x2::LIB1::INSTR", VI_NULL, 1000, &vi) == VI_SUCCESS);
  CHILD_CHECK(api.viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000) == VI_SUCCESS);
  CHILD_CHECK(write_bytes(api, vi, "*IDN?\n") == VI_SUCCESS);
  CHILD_CHECK(read_reply(api, vi) == "LIB,1\n");
  unsigned char in[10] = {0};
  ViUInt16 got = 0;
  CHILD_CHECK(api.viUsbControlIn(vi, static_cast<ViInt16>(0xC0), 0, 0, 0, 10, in, &got) == VI_SUCCESS);
  CHILD_CHECK(got == 7 && std::string(reinterpret_cast<char*>(in), got) == "mf_1.03");
  CHILD_CHECK(api.viUsbControlOut(vi, 0x40, 0, 0, 0, 0, in) == VI_SUCCESS);
  CHILD_CHECK(write_bytes(api, vi, "*IDN?\n") == VI_ERROR_CONN_LOST);
  CHILD_CHECK(api.viClose(vi) == VI_SUCCESS);

  CHILD_CHECK(api.viFindRsrc(rm, "USB[0-9]*::?*::INSTR", &list, &count, desc) == VI_SUCCESS);
  CHILD_CHECK(std::string(desc) == "USB0::0x1::0x3::LIB1::INSTR");
  CHILD_CHECK(api.viOpen(rm, desc, VI_NULL, 1000, &vi) == VI_SUCCESS);
  CHILD_CHECK(write_bytes(api, vi, std::string("\x26\x08\x24", 3)) == VI_SUCCESS);
  CHILD_CHECK(read_reply(api, vi) == "2.05#0#HW3");
  CHILD_CHECK(write_bytes(api, vi, "\"&e@00000000$\"") == VI_SUCCESS);
  CHILD_CHECK(read_reply(api, vi) == "e\n");
  CHILD_CHECK(write_bytes(api, vi, "\"&w@00000000$\"") == VI_SUCCESS);
  CHILD_CHECK(read_reply(api, vi) == "w\n");
  CHILD_CHECK(write_bytes(api, vi, std::string("\x26\x02\x23\xAB\xCD\x24", 6)) == VI_SUCCESS);
  CHILD_CHECK(read_reply(api, vi) == "d\n");
  CHILD_CHECK(api.viClose(rm) == VI_SUCCESS);
  CHILD_CHECK(api.viClose(vi) == VI_ERROR_INV_OBJECT);
  std::string calls = transcript_without_times(log);
  if (calls != kConversationCalls) {
    fprintf(stderr, "the transcript differs:\n%s", calls.c_str());
    _exit(1);
  }
  _exit(0);
}

TEST(SimLibraryDeathTest, ExportsTheTenCallsOverTheDescribedInstruments) {
  TempDir dir;
  std::string log = dir.file("calls.log");
  std::string desc = dir.write("lib.sim", "transcript = " + log +
                                              "\n[instrument lib]\n"
                                              "main = USB0::0x1::0x2::LIB1::INSTR\n"
                                              "bootloader = USB0::0x1::0x3::LIB1::INSTR\n"
                                              "main_idn = LIB,1\\n\n"
                                              "reboot_ms = 0\n");
  set_environment("TMFLASH_SIM", desc.c_str());
  EXPECT_EXIT(run_update_conversation(log), ::testing::ExitedWithCode(0), "");
  set_environment("TMFLASH_SIM", nullptr);
}

void find_default_instrument() {
  VisaApi api = load_library();
  ViSession rm = 0;
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN] = "";
  CHILD_CHECK(api.viOpenDefaultRM(&rm) == VI_SUCCESS);
  CHILD_CHECK(api.viFindRsrc(rm, "USB[0-9]*::?*::INSTR", &list, &count, desc) == VI_SUCCESS);
  CHILD_CHECK(count == 1 && std::string(desc) == "USB0::0x1234::0x5678::SIM0001::INSTR");
  _exit(0);
}

TEST(SimLibraryDeathTest, WithoutDescriptionFileHasTheDefaultInstrument) {
  set_environment("TMFLASH_SIM", nullptr);
  EXPECT_EXIT(find_default_instrument(), ::testing::ExitedWithCode(0), "");
}

void every_call_fails() {
  VisaApi api = load_library();
  ViSession rm = 0;
  CHILD_CHECK(api.viOpenDefaultRM(&rm) == VI_ERROR_SYSTEM_ERROR);
  CHILD_CHECK(api.viClose(1) == VI_ERROR_SYSTEM_ERROR);
  _exit(0);
}

TEST(SimLibraryDeathTest, BadDescriptionFileIsReportedOnceAndEveryCallFails) {
  TempDir dir;
  std::string desc = dir.write("bad.sim", "[instrument x]\nmain_idn = no main\n");
  set_environment("TMFLASH_SIM", desc.c_str());
  EXPECT_EXIT(every_call_fails(), ::testing::ExitedWithCode(0),
              "^tmflash simulator: .*/bad\\.sim:1: instrument \"x\" has no main resource string\n$");
  set_environment("TMFLASH_SIM", nullptr);
}

}  // namespace

#endif  // TMFLASH_SIM_LIBRARY

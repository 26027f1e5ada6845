// A simulator driven only through the ten VISA calls of the forwarding
// table, on the recording platform's virtual clock, with small helpers that
// read like the conversation with the instrument.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/recording_platform.h"
#include "visa/sim/sim_api.h"
#include "visa/sim/simulator.h"

inline constexpr char kMainRsrc[] = "USB0::0x1234::0x5678::SIM0001::INSTR";
inline constexpr char kBootRsrc[] = "USB0::0x1234::0x5679::SIM0001::INSTR";

class SimFixture : public ::testing::Test {
 protected:
  struct Reply {
    ViStatus status;
    std::string bytes;
  };

  // Builds the simulator from config and makes it the active one. Tests
  // change config first when they need another instrument.
  void start() {
    active.reset();
    simulator = std::make_unique<sim::Simulator>(config, clock);
    active.emplace(*simulator);
  }

  sim::InstrumentConfig& instrument(size_t i = 0) { return config.instruments.at(i); }

  ViSession open_rm() {
    ViSession rm = 0;
    EXPECT_EQ(v.viOpenDefaultRM(&rm), VI_SUCCESS);
    return rm;
  }

  // Opens rsrc through a fresh resource manager (or rm); fails the test when
  // it cannot.
  ViSession open(const std::string& rsrc, ViSession rm = 0) {
    if (rm == 0) rm = open_rm();
    ViSession vi = 0;
    EXPECT_EQ(v.viOpen(rm, rsrc.c_str(), VI_NULL, 1000, &vi), VI_SUCCESS) << rsrc;
    return vi;
  }

  ViStatus write(ViSession vi, std::string_view bytes) {
    ViUInt32 count = 0;
    ViStatus status =
        v.viWrite(vi, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<ViUInt32>(bytes.size()), &count);
    if (status == VI_SUCCESS) {
      EXPECT_EQ(count, bytes.size());
    }
    return status;
  }

  Reply read(ViSession vi, ViUInt32 count = 100) {
    std::vector<unsigned char> buf(count + 1, 0);
    ViUInt32 got = 0;
    ViStatus status = v.viRead(vi, buf.data(), count, &got);
    return {status, std::string(reinterpret_cast<const char*>(buf.data()), got)};
  }

  // Writes bytes and reads the reply, as the updater's queries do.
  Reply query(ViSession vi, std::string_view bytes) {
    ViStatus status = write(vi, bytes);
    if (status != VI_SUCCESS) return {status, ""};
    return read(vi);
  }

  // Every resource string a search finds, through viFindRsrc and viFindNext.
  std::vector<std::string> find(const char* expr, ViStatus* status = nullptr, ViSession rm = 0) {
    if (rm == 0) rm = open_rm();
    ViFindList list = 0;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN] = "unchanged";
    ViStatus s = v.viFindRsrc(rm, expr, &list, &count, desc);
    if (status) *status = s;
    std::vector<std::string> found;
    if (s != VI_SUCCESS) {
      EXPECT_EQ(count, 0u);
      return found;
    }
    found.push_back(desc);
    while (v.viFindNext(list, desc) == VI_SUCCESS) found.push_back(desc);
    EXPECT_EQ(found.size(), count);
    return found;
  }

  ViStatus control_out(ViSession vi, int bmRequestType, int bRequest = 0) {
    unsigned char buf[1] = {0};
    return v.viUsbControlOut(vi, static_cast<ViInt16>(bmRequestType), static_cast<ViInt16>(bRequest), 0, 0, 0, buf);
  }

  Reply control_in(ViSession vi, ViUInt16 wLength = 10, int bmRequestType = 0xC0) {
    unsigned char buf[64] = {0};
    ViUInt16 got = 0;
    ViStatus status = v.viUsbControlIn(vi, static_cast<ViInt16>(bmRequestType), 0, 0, 0, wLength, buf, &got);
    return {status, std::string(reinterpret_cast<const char*>(buf), got)};
  }

  // Keeps every call and every bootloader command: the tests read them.
  sim::SimConfig config = [] {
    sim::SimConfig c = sim::default_sim_config();
    c.keep_transcript = true;
    c.keep_commands = true;
    return c;
  }();
  RecordingPlatform clock;
  std::unique_ptr<sim::Simulator> simulator;
  std::optional<sim::ScopedActiveSimulator> active;
  const VisaApi& v = *sim::simulator_visa_api();
};

// Bytes from a list of values, for frames written out byte by byte.
inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int b : values) out.push_back(static_cast<char>(b));
  return out;
}

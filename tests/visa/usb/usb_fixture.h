// The built-in USBTMC driver over the in-process USB device, which serves a
// simulated instrument on the recording platform's virtual clock: the whole
// path of a real instrument, host and device, without a USB stack.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/recording_platform.h"
#include "visa/sim/simulator.h"
#include "visa/usb/inprocess_usb.h"
#include "visa/usb/usbtmc_visa.h"

inline constexpr char kUsbMain[] = "USB0::0x1234::0x5678::SIM0001::INSTR";
inline constexpr char kUsbBoot[] = "USB0::0x1234::0x5679::SIM0001::INSTR";

class UsbFixture : public ::testing::Test {
 protected:
  struct Reply {
    ViStatus status;
    std::string bytes;
  };

  // Builds the instrument from config, the device with these quirks and
  // faults, and the driver over it.
  void start(usbtmc::UsbQuirks quirks = {}, usbtmc::FunctionFaults faults = {}) {
    driver.reset();
    usb.reset();
    simulator = std::make_unique<sim::Simulator>(config, clock);
    usb = std::make_unique<usbtmc::InProcessUsb>(*simulator, clock, quirks, faults);
    driver = std::make_unique<usbtmc::UsbtmcVisa>(*usb, clock, [this](const std::string& line) { notes.push_back(line); });
  }

  ViSession open_rm() {
    ViSession rm = 0;
    EXPECT_EQ(driver->viOpenDefaultRM(&rm), VI_SUCCESS);
    return rm;
  }

  ViSession open(const std::string& rsrc = kUsbMain, ViSession rm = 0) {
    if (rm == 0) rm = open_rm();
    ViSession vi = 0;
    EXPECT_EQ(driver->viOpen(rm, rsrc.c_str(), VI_NULL, 1000, &vi), VI_SUCCESS) << rsrc;
    return vi;
  }

  ViStatus write(ViSession vi, std::string_view bytes) {
    ViUInt32 count = 0;
    ViStatus status = driver->viWrite(vi, reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<ViUInt32>(bytes.size()), &count);
    if (status == VI_SUCCESS) {
      EXPECT_EQ(count, bytes.size());
    }
    return status;
  }

  Reply read(ViSession vi, ViUInt32 count = 100) {
    std::vector<unsigned char> buf(count + 1, 0);
    ViUInt32 got = 0;
    ViStatus status = driver->viRead(vi, buf.data(), count, &got);
    return {status, std::string(reinterpret_cast<const char*>(buf.data()), got)};
  }

  Reply query(ViSession vi, std::string_view bytes, ViUInt32 count = 100) {
    ViStatus status = write(vi, bytes);
    if (status != VI_SUCCESS) return {status, ""};
    return read(vi, count);
  }

  std::vector<std::string> find(const char* expr = "USB?*::INSTR", ViStatus* status = nullptr) {
    ViSession rm = open_rm();
    ViFindList list = 0;
    ViUInt32 count = 0;
    char desc[VI_FIND_BUFLEN] = "unchanged";
    ViStatus s = driver->viFindRsrc(rm, expr, &list, &count, desc);
    if (status) *status = s;
    std::vector<std::string> found;
    if (s == VI_SUCCESS) {
      found.push_back(desc);
      while (driver->viFindNext(list, desc) == VI_SUCCESS) found.push_back(desc);
      EXPECT_EQ(found.size(), count);
    }
    driver->viClose(rm);
    return found;
  }

  // The bulk-OUT transfers that carried a header with this MsgID.
  std::vector<std::vector<uint8_t>> sent(uint8_t msg_id) const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& t : usb->bulk_out_transfers())
      if (!t.empty() && t[0] == msg_id) out.push_back(t);
    return out;
  }

  // The class requests (bRequest) sent, in order.
  std::vector<int> class_requests() const {
    std::vector<int> out;
    for (const usbtmc::SetupPacket& s : usb->control_requests())
      if ((s.bmRequestType & 0x60) == 0x20) out.push_back(s.bRequest);
    return out;
  }

  sim::SimConfig config = sim::default_sim_config();
  RecordingPlatform clock;
  std::unique_ptr<sim::Simulator> simulator;
  std::unique_ptr<usbtmc::InProcessUsb> usb;
  std::unique_ptr<usbtmc::UsbtmcVisa> driver;
  std::vector<std::string> notes;
};

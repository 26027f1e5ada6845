// Whole package jobs against simulated instruments: packages are built from
// plans (package_writer.h) into the test's directory and run through the
// entry point as the only job of a list file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "support/sim_run.h"

// The dialogue of the first open: one instrument listed, the operator answers 0.
inline std::string first_dialogue(const std::string& rsrc = kMainA) {
  return "<11>USB:LIST\\n\n<13> 0:" + rsrc + "\\n\n<9> 1:Search again\\n\n"
         "<11>please select:\ninput 0\n<13>select 0:" + rsrc + "\\n\n";
}

// The first open (for the compatibility check) and the next open that reuses
// the choice, for a section. The log joins consecutive prints of one colour,
// so the second "select" line joins the first.
inline std::string check_then_section_open() {
  return "<11>USB:LIST\\n\n<13> 0:" + kMainA + "\\n\n<9> 1:Search again\\n\n"
         "<11>please select:\ninput 0\n<13>select 0:" + kMainA + "\\nselect 0:" + kMainA + "\\n\n";
}

// The mode-0 handshake from the main firmware: probe, jump, wait, reconnect
// under the bootloader's new string, version echo.
inline std::string mode0_handshake(const std::string& boot_reply = "2.05#0#HW3") {
  return "<->main *IDN = TMSIM,TM1000,SIM0001,1.03\\n\\n\n"
         "sleep 100\n"
         "sleep 3000\n"
         "<13>select 0:" + kBootA + "\\n\n"
         "<12>different from \\n" + kBootA + "\\n" + kMainA + "\\n\n"
         "<11>please ENTER continue\\n\n"
         "pause\n"
         "<->Bootloader VisaRsrc=" + kBootA + "\\n\n"
         "<->Bootloader version=" + boot_reply + "\\n\n";
}

// The progress line as the log shows it.
inline std::string progress(const char* percent) { return std::string("<->update...") + percent + "%\\r\n"; }

// Bytes 0, 1, 2 ... (mod 251, so that chunk boundaries never line up with
// the pattern) for images whose placement in flash must be exact.
inline std::vector<uint8_t> pattern(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i + seed) % 251);
  return out;
}

// A firmware section that suits the default simulated instrument: bootloader
// 2.x, hardware HW3, jump command SYST:BOOT.
inline SectionPlan suited(SectionPlan s) {
  s.boot_version = "2.10";
  s.kind = "HW3";
  s.jump_command = "SYST:BOOT";
  return s;
}

class PackageRun : public SimRun {
 protected:
  // One default instrument whose erase block is erase_block bytes.
  void connect_with_erase_block(uint32_t erase_block) {
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    config.instruments.back().erase_block = erase_block;
    connect(std::move(config));
  }

  // One default instrument whose info reply has only its device entry, so
  // that no section record is compared (packages whose record 0 is a command
  // section would not suit the default reply, which names section 0).
  static sim::SimConfig unchecked_config(const std::string& boot_rsrc = kBootA) {
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, boot_rsrc));
    config.instruments.back().syst_info = "-1#SIM1000#\n";
    return config;
  }
  void connect_unchecked(const std::string& boot_rsrc = kBootA) { connect(unchecked_config(boot_rsrc)); }

  // A plan for the default instrument's device code with the given run order.
  static PackagePlan plan(std::vector<uint8_t> run_order) {
    PackagePlan p;
    p.device_code = "SIM1000";
    p.run_order = std::move(run_order);
    return p;
  }

  // Lays out plan into the file name; fails the test when it cannot.
  std::string write_package(const PackagePlan& p, const std::string& name = "fw.pt") {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(build_package(p, &bytes, &error)) << error;
    package_bytes = bytes;
    return path = dir.write(name, std::string(bytes.begin(), bytes.end()));
  }

  // Writes bytes as the package file.
  std::string write_bytes(const std::vector<uint8_t>& bytes, const std::string& name = "fw.pt") {
    package_bytes = bytes;
    return path = dir.write(name, std::string(bytes.begin(), bytes.end()));
  }

  // Runs the package at path as the one job of a list, the operator choosing
  // instrument 0 when asked.
  int run_package(const std::string& package_path) {
    os.answer({"0"});
    return run_list("total=1\npt0=" + package_path + "\n");
  }
  int run_package() { return run_package(path); }

  std::string updating() const { return "<10>file(" + path + ") updating...\\n\n"; }

  // Calls to one VISA function in the transcript.
  size_t calls(const std::string& function) const {
    size_t n = 0;
    for (const sim::CallRecord& c : sim->transcript()) n += c.function == function;
    return n;
  }

  // The bootloader's decoded commands, letter and payload, e.g. "e@00000100"
  // for an erase, "d#<n bytes>" for data, "r" for the version query.
  std::vector<std::string> boot_commands(size_t i = 0) const {
    std::vector<std::string> out;
    for (const sim::BootCommand& c : sim->bootloader(i).commands()) {
      std::string s(1, c.letter);
      if (c.letter == 'd') {
        s += "#" + std::to_string(c.payload.size());
      } else if (c.marker != '$') {
        s += static_cast<char>(c.marker);
        for (unsigned char b : c.payload) {
          char hex[3];
          snprintf(hex, sizeof hex, "%02X", b);
          s += hex;
        }
      }
      out.push_back(s);
    }
    return out;
  }

  std::vector<uint8_t> flash(uint32_t addr, size_t len) const { return sim->flash(0, addr, len); }

  std::string path;
  std::vector<uint8_t> package_bytes;
};

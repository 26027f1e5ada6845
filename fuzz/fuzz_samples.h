// Well-formed update files for the targets that fuzz something else (the
// list file, the instrument's replies, the simulator's description): the
// demo's script and package, with the entry mode and send mode the target
// chooses. Built in memory by the same writers the tools use.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "script/script_writer.h"

namespace fuzz {

// The demo script: version, header, entry, jump, accepted versions, then a
// transfer command and a small image. jump_delay_ms outlasts the reboot of
// fuzz::instrument().
inline std::string demo_script(int mode, int binary, uint32_t jump_delay_ms = 3000) {
  std::string source = "@version 1.04\n@company TMSIM\n@header :FW:UPD\n@u mode=" + std::to_string(mode & 3) +
                       " binary=" + std::to_string(binary & 1) + " comm_reset=" +
                       std::to_string(mode == 0 ? 1 : 0) + " delay=" + std::to_string(jump_delay_ms) +
                       "\n@jump SYST:BOOT\n@boot 2.10\n@hw HW3\n@main ,1.02,1.03,\n"
                       "&t$\n&e@00010000$\n&w@00010000$\n&d#546D666C6173682064656D6F20696D$\n"
                       "&d#00112233445566778899AABBCCDDEEFF$\n&x$\n";
  std::string script, error;
  if (!compile_script(source, &script, &error)) {
    fprintf(stderr, "fuzz: demo script: %s\n", error.c_str());
    abort();
  }
  return script;
}

// The demo package: a machine command, a binary section and a framed
// section, each firmware section in the given entry mode.
inline std::string demo_package(int mode, int binary) {
  PackagePlan plan;
  plan.b_argument = 0x1000;
  plan.device_code = "TM1000";
  plan.run_order = {0, 1, 2};
  plan.sections[0] = command_section("mcmd", ":DISP:TEXT \"Updating\"");

  std::vector<uint8_t> image;
  for (int i = 0; i < 96; ++i) image.push_back(static_cast<uint8_t>(i));
  SectionPlan bin = binary_section(BinHeader{0x20000, 0x21FFF, 0x20, 0x1000}, image, mode & 3);
  bin.boot_version = "2.10";
  bin.kind = "HW3";
  bin.binary_flag = static_cast<int8_t>(binary & 1);
  bin.jump_command = "SYST:BOOT";
  bin.command_header = ":FW:UPD";
  plan.sections[1] = bin;

  SectionPlan framed = framed_section({record_line("&t$"), record_line("&e@00030000$"), record_line("&w@00030000$"),
                                       record_line("^d#465047412062697473747265616D00$", true),
                                       record_line("&x$"), record_line("%q$")},
                                      mode & 3);
  framed.boot_version = "2.01";
  framed.kind = "HW3";
  framed.jump_command = "SYST:BOOT";
  plan.sections[2] = framed;

  std::vector<uint8_t> bytes;
  std::string error;
  if (!build_package(plan, &bytes, &error)) {
    fprintf(stderr, "fuzz: demo package: %s\n", error.c_str());
    abort();
  }
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace fuzz

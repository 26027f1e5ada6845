// How fast a large binary section streams: a package with one 16 MiB binary
// section (chunk size 255, the largest the format allows) runs as a whole
// package job against the in-process simulated instrument, in text mode and
// in binary mode. Time is virtual (the recording platform), so the figures
// are the updater's and the simulator's own work: framing every command,
// checking every echo, the progress line, and the simulated flash.
//
// Prints, per mode, the wall time, MB/s of image (MB = 10^6 bytes) and
// nanoseconds per command, and checks afterwards that the flash holds the
// image exactly. Exit status 1 when a job fails or the flash is wrong.
//
// Usage: stream_bench [image bytes]   (default 16 MiB)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/jobs.h"
#include "driver/updater.h"
#include "package/package_writer.h"
#include "support/recording_platform.h"
#include "visa/sim/sim_backend.h"
#include "visa/sim/simulator.h"

namespace {

constexpr int32_t kChunk = 255;
constexpr int32_t kEraseStep = 0x1000;  // the simulated erase block
constexpr uint32_t kDefaultImage = 16u << 20;

std::vector<uint8_t> image_bytes(size_t n) {
  std::vector<uint8_t> out(n);
  uint32_t x = 0x12345678;
  for (uint8_t& b : out) {
    x = x * 1103515245u + 12345u;  // any pattern that is not the same at every chunk
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

struct Result {
  bool ok = false;
  double seconds = 0;
  size_t commands = 0;
};

// Runs the package at path against a fresh simulated instrument and checks
// its flash against image.
Result run(const std::string& path, const std::vector<uint8_t>& image) {
  RecordingPlatform os;
  os.keep_prints = false;
  os.answer("0");
  sim::SimConfig config = sim::default_sim_config();
  config.keep_transcript = false;  // it would hold every byte written twice over
  sim::Simulator simulator(config, os);
  std::unique_ptr<VisaBackend> backend = sim::make_simulator_backend(simulator);
  Updater u(os, backend.get());

  auto start = std::chrono::steady_clock::now();
  int status = package_job(u, path.c_str(), -1);
  auto end = std::chrono::steady_clock::now();

  Result r;
  r.seconds = std::chrono::duration<double>(end - start).count();
  r.commands = simulator.bootloader(0).commands().size();
  if (status != 0) {
    fprintf(stderr, "the package job failed\n");
    return r;
  }
  if (!simulator.bootloader(0).errors().empty() || !simulator.bootloader(0).image_complete()) {
    fprintf(stderr, "the bootloader reported errors or no end of image\n");
    return r;
  }
  if (simulator.flash(0, 0, image.size()) != image) {
    fprintf(stderr, "the flash does not hold the image\n");
    return r;
  }
  r.ok = true;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  size_t image_size = argc > 1 ? strtoul(argv[1], nullptr, 0) : kDefaultImage;
  std::vector<uint8_t> image = image_bytes(image_size);
  std::string path =
      (std::filesystem::temp_directory_path() / ("tmflash-stream-bench-" + std::to_string(getpid()) + ".pt")).string();

  printf("binary section: %zu bytes of image, chunk %d, erase step 0x%X\n", image.size(), kChunk, kEraseStep);
  bool all_ok = true;
  for (int binary : {0, 1}) {
    PackagePlan plan;
    plan.device_code = "SIM1000";  // what the default instrument reports
    plan.run_order = {0};
    plan.sections[0] =
        binary_section({0, static_cast<int32_t>(image.size()) - 1, kChunk, kEraseStep}, image);
    plan.sections[0]->boot_version = "2.10";
    plan.sections[0]->kind = "HW3";
    plan.sections[0]->jump_command = "SYST:BOOT";
    plan.sections[0]->binary_flag = static_cast<int8_t>(binary);
    std::vector<uint8_t> bytes;
    std::string error;
    if (!build_package(plan, &bytes, &error) || !write_file(path, bytes)) {
      fprintf(stderr, "cannot write the package %s: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    Result r = run(path, image);
    all_ok = all_ok && r.ok;
    printf("%-6s mode: %8.3f s  %8.2f MB/s  %8.0f ns/command  (%zu commands)%s\n", binary ? "binary" : "text",
           r.seconds, static_cast<double>(image.size()) / r.seconds / 1e6, r.seconds * 1e9 / static_cast<double>(r.commands),
           r.commands, r.ok ? "" : "  FLASH WRONG");
  }
  std::filesystem::remove(path);
  return all_ok ? 0 : 1;
}

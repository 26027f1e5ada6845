#include "reliability/demo_bench.h"

#include <gtest/gtest.h>

#include <sstream>

#include "driver/runner.h"
#include "support/text_files.h"
#include "visa/sim/sim_file.h"

namespace reliability {

namespace {

void replace_all(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

// Answers the operator gives at the start of every run: the first choice,
// a "Search again" or two while an instrument reboots, and some to spare.
constexpr int kAnswersPerRun = 6;

}  // namespace

const DemoFiles& demo_files() {
  static const DemoFiles files = [] {
    const std::string demo = std::string(TMFLASH_BUILD_DIR) + "/demo/";
    DemoFiles f;
    f.list = read_file(demo + "demo.lst");
    f.package = read_file(demo + "firmware.pkg");
    f.script = read_file(demo + "firmware.txt");
    std::string error;
    if (!sim::load_sim_description(demo + "instrument.sim", &f.instrument, &error)) {
      ADD_FAILURE() << error;
    }
    return f;
  }();
  return files;
}

std::string one_job_list(const TempDir& dir, const std::string& key, const std::string& path) {
  return dir.write(key + ".lst", "total=1\n" + key + "0=" + path + "\n");
}

std::string demo_list(const TempDir& dir, const std::string& package_path, const std::string& script_path) {
  std::string list = demo_files().list;
  replace_all(&list, "=firmware.pkg", "=" + package_path);
  replace_all(&list, "=firmware.txt", "=" + script_path);
  return dir.write("demo.lst", list);
}

bool ended_well(const Outcome& o) {
  if (o.status == 1) return o.red && !o.update_ok;
  return o.status == 0 && o.update_ok && o.image_ok;
}

std::string describe(const Outcome& o) {
  std::ostringstream out;
  out << "exit " << o.status << (o.red ? ", red message" : ", no red message")
      << (o.update_ok ? ", Update Ok" : "") << (o.image_ok ? ", image right" : ", image not right") << ", "
      << o.erases << " erase(s), " << o.data << " data command(s); the operator saw:\n"
      << o.screen;
  return out.str();
}

Station::Station(sim::SimConfig config) : os_(0) {
  os_.keep_prints = true;
  config.keep_transcript = false;  // a sweep makes thousands of runs
  config.keep_commands = false;
  config.transcript_path.clear();
  config.flash_path.clear();
  sim_ = std::make_unique<sim::Simulator>(std::move(config), os_);
  sim_->set_reply_hook([this](const sim::ReplyContext&, std::string*) { os_.step(); });
}

Outcome Station::run(const std::string& list) {
  for (int i = 0; i < kAnswersPerRun; ++i) os_.answer("0");
  size_t first_event = os_.events().size();
  const sim::Bootloader& boot = sim_->bootloader(0);
  uint64_t erases_before = boot.command_count('e');
  uint64_t data_before = boot.command_count('d');

  Outcome o;
  {
    Updater u(os_);
    u.integrity = integrity;
    std::unique_ptr<VisaBackend> backend = sim::make_simulator_backend(*sim_);
    u.backend = backend.get();
    const char* argv[] = {"tmflash", list.c_str()};
    o.status = updater_main(u, 2, argv);
  }
  std::string text;
  for (size_t i = first_event; i < os_.events().size(); ++i) {
    const RecordingPlatform::Event& e = os_.events()[i];
    bool printed = e.kind == RecordingPlatform::Event::kPrint || e.kind == RecordingPlatform::Event::kErrorPrint;
    if (!printed) continue;
    if (e.colour == kColourRed) o.red = true;
    if (e.kind == RecordingPlatform::Event::kPrint) text += e.text;
  }
  o.update_ok = text.ends_with("Update Ok\n");
  o.image_ok = !reference.empty() && flash_equals(reference);
  o.erases = boot.command_count('e') - erases_before;
  o.data = boot.command_count('d') - data_before;
  o.screen = std::move(text);
  return o;
}

// The erase blocks that programmed bytes lie in, in address order.
std::vector<uint32_t> Station::programmed_blocks() const {
  std::vector<uint32_t> out;
  const uint64_t block = sim_->config(0).erase_block;
  for (const auto& [addr, len] : sim_->bootloader(0).programmed()) {
    uint64_t end = (addr + len + block - 1) / block * block;
    for (uint64_t at = addr / block * block; at < end; at += block) {
      if (out.empty() || out.back() != at) out.push_back(static_cast<uint32_t>(at));
    }
  }
  return out;
}

FlashImage Station::image() const {
  FlashImage out;
  for (uint32_t at : programmed_blocks())
    out.emplace_back(at, sim_->flash(0, at, sim_->config(0).erase_block));
  return out;
}

bool Station::flash_equals(const FlashImage& want) const {
  for (const auto& [addr, bytes] : want)
    if (sim_->flash(0, addr, bytes.size()) != bytes) return false;
  for (uint32_t at : programmed_blocks()) {
    bool known = false;
    for (const auto& block : want) known = known || block.first == at;
    if (!known) return false;  // programmed where the clean run never did
  }
  return true;
}

FlashImage clean_image(const std::string& list, const sim::SimConfig& config) {
  Station station(config);
  Outcome o = station.run(list);
  EXPECT_EQ(o.status, 0) << describe(o);
  EXPECT_TRUE(o.update_ok) << describe(o);
  return station.image();
}

}  // namespace reliability

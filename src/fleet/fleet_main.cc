#include "fleet/fleet_main.h"

#include <filesystem>
#include <memory>

#include "base/messages.h"
#include "driver/list_file.h"
#include "driver/run_observer.h"
#include "fleet/fleet_search.h"

namespace {

int refuse(Platform& os, const std::string& text) {
  os.print_error(kColourRed, "tmflash: --all: " + text + "\n");
  return 1;
}

// A folder of the fleet's own under the system's temporary folder; "" when
// none can be made.
std::string make_work_dir(int64_t stamp) {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return "";
  for (int k = 0; k < 100; ++k) {
    std::filesystem::path dir = base / ("tmflash-fleet-" + std::to_string(stamp) + "-" + std::to_string(k));
    if (std::filesystem::create_directory(dir, ec)) return dir.string();
  }
  return "";
}

// A job's notice as the run prints it, without its line end.
std::string notice_text(const char* format, const std::string& argument) {
  std::string text = format;
  text.replace(text.find("%s"), 2, argument);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The jobs of the list, with the notice a run prints as it starts each.
std::vector<FleetJob> jobs_of(const RunList& run) {
  std::vector<FleetJob> jobs;
  for (int slot = 0; slot < run.list_total && slot < kMaxJobs; ++slot) {
    JobKind kind = static_cast<JobKind>(run.commond_mode[slot]);
    std::string argument = run.commond[slot];
    const char* format = nullptr;
    switch (kind) {
      case kJobSystem: format = msg::kSystemCmd; break;
      case kJobMachine: format = msg::kMachineCmd; break;
      case kJobScript:
      case kJobPackage: format = msg::kFileUpdating; break;
      default: continue;
    }
    jobs.push_back(FleetJob{slot, std::string(job_kind_key(kind)) + " " + argument, notice_text(format, argument)});
  }
  return jobs;
}

}  // namespace

int fleet_main(FleetOptions o, VisaBackend& visa, Processes& processes, Platform& os, Clock& clock,
               const std::function<int64_t()>& wall_ms) {
  // The list file is read as a run reads it, with the run's own messages.
  auto u = std::make_unique<Updater>(os, &visa);
  if (OpenIni(*u, o.list_file.c_str()) != 0) return 1;
  if (!needs_instrument(u->run)) {
    return refuse(os, o.list_file + " names no job for an instrument; run it without --all");
  }
  o.list_jobs = jobs_of(u->run);
  std::string why;
  const VisaApi* api = visa.load(&why);
  if (api == nullptr) return refuse(os, why);
  std::vector<std::string> rsrcs;
  const char* expr = u->link.UsbStrFilter;
  if (!find_instruments(*api, expr, &rsrcs, &why)) return refuse(os, why);
  if (rsrcs.empty()) return refuse(os, std::string("the search ") + expr + " found no instrument");
  std::string faults = serial_faults(rsrcs);
  if (!faults.empty()) {
    return refuse(os, "instruments that cannot be told apart by serial number (" + faults +
                          "); nothing was started");
  }

  o.work_dir = make_work_dir(wall_ms());
  if (o.work_dir.empty()) return refuse(os, "cannot make a folder for the instruments' reports");
  int status = run_fleet(o, rsrcs, processes, os, clock, wall_ms);
  std::error_code ec;
  std::filesystem::remove_all(o.work_dir, ec);
  return status;
}

#include "app/fleet_station.h"

#include <memory>

#include "app/visa_choice.h"
#include "config.h"
#include "fleet/fleet_main.h"
#include "platform/clock.h"
#include "platform/wall_clock.h"

namespace {

int refuse(Platform& os, const std::string& text) {
  os.print_error(kColourRed, "tmflash: --all: " + text + "\n");
  return 1;
}

}  // namespace

int run_fleet_command_line(const CommandLine& cl, const char* argv0, const std::vector<std::string>& arguments,
                           Platform& os) {
  std::string why;
  std::unique_ptr<Processes> processes = make_system_processes(&why);
  if (processes == nullptr) return refuse(os, why);
  if (!cl.list_file) return refuse(os, "needs a list file (see tmflash --help)");
  // One trace cannot play the instrument of a search and of every child.
  if (cl.visa.starts_with("replay:")) return refuse(os, "a trace cannot be replayed for many instruments");

  FleetOptions o;
  o.program = own_program_path(argv0);
  if (o.program.empty()) return refuse(os, "cannot find the path of this program to start it again");
  if (!cl.visa.empty()) o.child_options.push_back("--visa=" + cl.visa);
  if (cl.strict) o.child_options.push_back("--strict");
  if (cl.no_verify) o.child_options.push_back("--no-verify");
  o.list_file = *cl.list_file;
  o.jobs = cl.jobs;
  o.log = cl.log;
  o.log_dir = cl.log_dir;
  o.report = cl.report;
  o.trace = cl.trace;
  o.version = TMFLASH_VERSION;
  o.arguments = arguments;

  std::unique_ptr<VisaBackend> visa = choose_visa_backend(cl.visa);
  RealClock clock;
  return fleet_main(std::move(o), *visa, *processes, os, clock, wall_clock_ms);
}

#include "visa/sim/sim_backend.h"

#include "platform/clock.h"
#include "visa/sim/sim_api.h"
#include "visa/sim/sim_file.h"

namespace sim {

namespace {

// Deactivates its simulator when it goes, so that the forwarding table never
// reaches a destroyed one.
class ActivatingBackend : public VisaBackend {
 public:
  ~ActivatingBackend() override {
    if (simulator_ && active_simulator() == simulator_) set_active_simulator(nullptr);
  }

 protected:
  const VisaApi* activate(Simulator* simulator) {
    simulator_ = simulator;
    set_active_simulator(simulator);
    return simulator_visa_api();
  }

 private:
  Simulator* simulator_ = nullptr;
};

class BorrowedSimulatorBackend : public ActivatingBackend {
 public:
  explicit BorrowedSimulatorBackend(Simulator& simulator) : simulator_(simulator) {}
  const VisaApi* load(std::string*) override { return activate(&simulator_); }

 private:
  Simulator& simulator_;
};

// Builds its simulator on the first load(), from a file or the defaults.
class OwnedSimulatorBackend : public ActivatingBackend {
 public:
  OwnedSimulatorBackend(bool from_file, std::string path) : from_file_(from_file), path_(std::move(path)) {}

  const VisaApi* load(std::string* why) override {
    if (simulator_) return activate(simulator_.get());
    SimConfig config = default_sim_config();
    if (from_file_ && path_.empty()) {
      *why = "--visa=sim:FILE needs the name of a simulator description file";
      return nullptr;
    }
    if (from_file_ && !load_sim_description(path_, &config, why)) return nullptr;
    auto simulator = std::make_unique<Simulator>(config, clock_);
    if (!config.transcript_path.empty() && !simulator->transcript_file_open()) {
      *why = path_ + ": cannot open the transcript file " + config.transcript_path;
      return nullptr;
    }
    simulator_ = std::move(simulator);
    return activate(simulator_.get());
  }

 private:
  bool from_file_;
  std::string path_;
  RealClock clock_;
  std::unique_ptr<Simulator> simulator_;
};

}  // namespace

std::unique_ptr<VisaBackend> make_simulator_backend(Simulator& simulator) {
  return std::make_unique<BorrowedSimulatorBackend>(simulator);
}

std::unique_ptr<VisaBackend> make_simulator_file_backend(std::string path) {
  return std::make_unique<OwnedSimulatorBackend>(true, std::move(path));
}

std::unique_ptr<VisaBackend> make_default_simulator_backend() {
  return std::make_unique<OwnedSimulatorBackend>(false, "");
}

std::unique_ptr<VisaBackend> make_simulator_backend_for_option(std::string_view visa_option) {
  if (visa_option == "sim") return make_default_simulator_backend();
  if (visa_option.starts_with("sim:")) return make_simulator_file_backend(std::string(visa_option.substr(4)));
  return nullptr;
}

}  // namespace sim

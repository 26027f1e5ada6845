#include "app/visa_choice.h"

#include "visa/library_loader.h"
#include "visa/sim/sim_backend.h"
#include "visa/trace/trace_backend.h"
#include "visa/usb/usbtmc_choice.h"

std::unique_ptr<VisaBackend> choose_visa_backend(const std::string& option) {
  if (std::unique_ptr<VisaBackend> simulated = sim::make_simulator_backend_for_option(option)) {
    return simulated;
  }
  if (std::unique_ptr<VisaBackend> replay = trace::make_replay_backend_for_option(option)) return replay;
  if (std::unique_ptr<VisaBackend> usb = usbtmc::make_usb_backend_for_option(option)) return usb;
  return std::make_unique<VisaLibraryBackend>(option);
}

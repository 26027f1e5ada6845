#include "visa/sim/sim_api.h"

#include "visa/visa_forwarding.h"

namespace sim {

namespace {

Simulator* g_active = nullptr;

using Forwarding = VisaForwarding<Simulator, &g_active>;

}  // namespace

const VisaApi* simulator_visa_api() { return &Forwarding::table; }

void set_active_simulator(Simulator* sim) { g_active = sim; }

Simulator* active_simulator() { return g_active; }

}  // namespace sim

// flash-tool-sim's body as a function: the --sim-* options taken out, the
// simulated devices attached (or a recording loaded), the tool run over them
// and its exit status returned. The tool keeps no state from one call to the
// next, so a test can run it many times in one process.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "report/console_reporter.h"
#include "sim/fault_platform.h"

namespace sim {

// What a caller learns of a run besides its exit status.
struct SimRunReport {
    std::uint64_t device_calls = 0;     // usb_* and hid_* calls the tool made
    std::optional<FaultRecord> fault;   // the call --sim-fault went into
    bool runaway = false;               // the run passed the limits below
    std::uint64_t clock_ms = 0;         // the virtual clock at the end
    std::vector<CallRecord> calls;      // every device call (N at N-1)
};

// Bounds on a run (none by default): past them the run is a runaway, every
// device call fails from then on and `on_runaway` is called once. `on_fault`
// is called as the --sim-fault fault goes into its call.
struct SimRunLimits {
    FaultLimits limits;
    std::function<void()> on_runaway;
    std::function<void(const FaultRecord&)> on_fault;
};

// `argv[argc]` must be null, as for main. `report`, `limits` and `console`
// (where the tool's text goes instead of the standard streams) may be null.
int sim_main(int argc, char** argv, SimRunReport* report = nullptr, const SimRunLimits* limits = nullptr,
             const console_sink* console = nullptr);

}  // namespace sim

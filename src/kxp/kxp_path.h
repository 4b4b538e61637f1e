// The link path: open the link session to the run's device, show its client
// information and system error value, upgrade and restart it as the job asks,
// and wait for it to boot; reported through the run's reporter.
#pragma once

#include <optional>

#include "platform/platform.h"
#include "report/outcome.h"
#include "report/run_context.h"

inline constexpr unsigned BOOT_WAIT_FIRST_PAUSE_MS = 500;

// The link address holds "USB", a colon and at most this many characters.
inline constexpr std::size_t LINK_SERIAL_MAX = 10;

// The path's one entry point. Nothing (after nothing was reported) when the
// link session could not be established: the run takes the HID path instead.
std::optional<outcome> kxp_path(run_context& run, const run_job& job);

// Pauses, then looks for the run's device up to 601 times 100 ms apart; after
// a restart (`restarted`) it must have left the bus first, and come back in
// run-time mode. `watch`: the system's watch on the device, set before its
// restart (0: none).
outcome kxp_wait_for_boot(run_context& run, bool restarted, platform::DepartureWatch watch = 0);

// The DFU path: bring the run's device into DFU mode, download the image (or
// read the device's image information), detach it back unless told not to,
// and wait for it to come back; reported through the run's reporter.
#pragma once

#include <cstdint>
#include <string>

#include "dfu/dfu_transfer.h"
#include "report/outcome.h"
#include "report/run_context.h"

inline constexpr std::uint32_t DFU_DETACH_SETTLE_MS = 500;

// The transfer's events as the reporter's: phases, progress in bytes of
// `image_size`, polls and the device's texts. `cause` keeps the first failed transfer
// or detach (success while none failed).
struct dfu_relay {
    reporter& report;
    std::uint64_t image_size = 0;
    bool flashing = false;       // the manifestation phase has begun
    bool failure_shown = false;  // the failed request's message was reported
    outcome cause;
};

// The words for a transfer's failure, as the DFU path shows them on standard
// output: the failed request's message, or the name of the device's status.
std::string dfu_failure_text(const outcome& failure);

void dfu_relay_event(dfu_relay& relay, dfu_device& device, dfu_event event, int value, const char* text);

// The path's one entry point. -r detaches the device out of DFU mode (or
// restarts it from run-time mode through DFU mode); without an image it reads
// the device's image information, which must not be empty in information
// mode. Every wait accepts only the run's device; after the leave of DFU mode
// it must be back in run-time mode, and with an image product other than
// ANY_ID be that product.
outcome dfu_path(run_context& run, const run_job& job);

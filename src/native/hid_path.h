// The native HID path: probe, upgrade (or information read) and restart over
// the device's command protocol, reported through the run's reporter. Each
// acts on the run's physical device only (cmd_channel_open_same).
#pragma once

#include "report/outcome.h"
#include "report/run_context.h"

// True when the device answers identify with the right magic and status 0.
bool hid_probe(platform::Platform& os, const usb_device_identity& device);

// The path's one entry point: -r restarts the device; otherwise it upgrades
// it with the job's image, or reads its information when there is none.
// After a restart the wait accepts only the run's device, and only back in
// run-time mode.
outcome hid_path(run_context& run, const run_job& job);

// Runs on several devices at once: --all acts on every attached device of
// the vendor, --station on each device as it is plugged in. Each device gets
// a worker thread of its own, with its own reporter and its own identity, so
// that the waits of one never take another; a device that fails does not
// stop the others.
#pragma once

#include "frontend/device_reports.h"
#include "frontend/device_run.h"
#include "platform/platform.h"
#include "report/reporter.h"

// Every device attached now; a success when each of them (and at least one)
// succeeded.
outcome run_all(platform::Platform& os, reporter& report, device_reports& reports, const device_job& job);

// Every device plugged in until Ctrl-C, --count or --idle ends the station;
// each device once per plug-in (one still attached after its run waits to be
// plugged in again). The first Ctrl-C starts no new device and lets those in
// flight finish. A success when each device it ran on (and at least one)
// succeeded.
outcome run_station(platform::Platform& os, reporter& report, device_reports& reports, const device_job& job);

// What the first Ctrl-C of a station writes.
inline constexpr const char* STATION_CTRL_C_WARNING =
    "\nNOTICE: Ctrl-C: no new device is started; the station ends when the devices in flight are done. Press "
    "Ctrl-C again to abort.\n";

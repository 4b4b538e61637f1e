// The attached devices as the front end shows them: the --list printout, the
// refusal to choose among several devices, and the devices present when the
// selection matches none.
#pragma once

#include <vector>

#include "report/reporter.h"
#include "usb/usb_device_identity.h"

// One `listed` event per device: what a run with -p LOCATION would do with
// it. False (after "No Korvix device detected") when there is none. The probe
// for the path talks to each device through `os`.
bool list_devices(platform::Platform& os, reporter& report, const std::vector<usb_device_identity>& devices);

// The error that several devices fit the selection, saying how to choose one,
// with one line per device.
void report_several_devices(reporter& report, const std::vector<usb_device_identity>& devices,
                            const usb_selection& selection);

// The error that no device fits the selection, naming what was asked, with
// the devices present.
void report_no_match(reporter& report, const usb_selection& selection,
                     const std::vector<usb_device_identity>& attached);

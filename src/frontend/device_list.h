// The attached devices as the front end shows them: the --list printout and
// the refusal to choose among several devices without -S.
#pragma once

#include <vector>

#include "usb/usb_device_identity.h"

// One line per device on standard output: vendor:product ID, mode, serial,
// USB location and the path a run with only -S SERIAL would take. False
// (after "No Korvix device detected") when there is none.
bool list_devices(const std::vector<usb_device_identity>& devices);

// The error line that several devices are attached, then one line per device,
// on standard error.
void print_several_devices(const std::vector<usb_device_identity>& devices);

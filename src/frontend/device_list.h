// The attached devices as the front end shows them: the --list printout, the
// refusal to choose among several devices, and the devices present when the
// selection matches none.
#pragma once

#include <string>
#include <vector>

#include "usb/usb_device_identity.h"

// One line per device on standard output: vendor:product ID, mode, serial,
// USB location and the path a run with -p LOCATION would take. False (after
// "No Korvix device detected") when there is none. The probe for the path
// talks to each device through `os`.
bool list_devices(platform::Platform& os, const std::vector<usb_device_identity>& devices);

// The error line that several devices fit the selection, saying how to
// choose one, then one line per device, on standard error.
void print_several_devices(const std::vector<usb_device_identity>& devices, const usb_selection& selection);

// The error line that no device fits the selection, naming what was asked,
// then the devices present, on standard error.
void print_no_match(const usb_selection& selection, const std::vector<usb_device_identity>& attached);

// "serial TC0001", "no serial", or a serial with spaces, quotes or bytes
// that do not print shown in quotes with escapes: serial "TC 0001\x01".
std::string device_serial_text(const usb_device_identity& device);

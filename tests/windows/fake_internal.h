// Shared by the Win32 test doubles' translation units.
#pragma once

#include <string>
#include <vector>

namespace fake_win32::internal {

void violation(std::string text);
// The DOS device names and HID interface paths the doubles list now.
std::vector<std::string> dos_names();
std::vector<std::string> hid_paths();
// The simulator's location of the device a WinUSB-driven name belongs to
// ("1-2"); empty when WinUSB cannot open it.
std::string simulated_location(const std::string& dos_name);
// Forgets the device nodes handed out so far.
void reset_device_nodes();

}  // namespace fake_win32::internal

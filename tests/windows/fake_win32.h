// Test doubles of the Win32 functions the Windows backend calls (kernel32
// device and console calls, SetupAPI, WinUSB, the HID class driver), linked
// into the Windows test executable in place of the system's import
// libraries. They are backed by a simulated platform (the device models of
// the simulator) and record every argument the backend must get right; a
// wrong one is kept as a violation for the test to report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace fake_win32 {

struct State {
    // The simulated system behind the doubles; null: no device at all.
    platform::Platform* backing = nullptr;

    // Names listed by QueryDosDeviceA before the simulator's own.
    std::vector<std::string> extra_dos_names;
    // SetupDiEnumDeviceInterfaces fails at this member index with this error.
    std::optional<std::pair<DWORD, DWORD>> enum_failure;
    // Size SetupDiGetDeviceInterfaceDetailA reports as required, instead of
    // the real one.
    std::optional<DWORD> detail_size;
    // A control transfer fails with this error code instead of reaching the
    // device.
    std::optional<DWORD> control_failure;
    // A device-to-host control transfer fills the whole buffer WinUSB was
    // given and reports that length, whatever wLength asked for.
    bool control_in_overrun = false;
    // The console behind the standard input handle; none: not a console.
    std::optional<DWORD> console_mode;

    // What the backend did.
    std::vector<std::string> violations;
    std::vector<std::string> created_paths;     // every CreateFileA path, in order
    std::vector<std::string> winusb_accepted;   // names WinUsb_Initialize accepted
    std::vector<ULONG> control_buffer_lengths;  // BufferLength of each control transfer
    std::vector<DWORD> console_modes_set;
    unsigned query_dos_calls = 0;
    unsigned enum_calls = 0;
};

State& state();
// Clears the state and backs the doubles with `backing`.
void reset(platform::Platform* backing);

// Objects the backend opened through the doubles and has not released:
// file handles, WinUSB interfaces, device information sets, preparsed data.
std::size_t open_objects();

}  // namespace fake_win32

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
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace fake_win32 {

struct State {
    // The simulated system behind the doubles; null: no device at all.
    platform::Platform* backing = nullptr;

    // Names listed by QueryDosDeviceW before the simulator's own.
    std::vector<std::string> extra_dos_names;
    // Names containing one of these are not listed: interfaces without a
    // driver have no name in the DOS device namespace.
    std::vector<std::string> unlisted_names;
    // WinUsb_Initialize refuses names containing one of these (another
    // driver has the interface).
    std::vector<std::string> not_winusb;
    // CreateFileW fails with `error` on device paths containing `part`; an
    // open without access only when `without_access` says so.
    struct CreateFailure {
        std::string part;
        DWORD error = 0;
        bool without_access = false;
    };
    std::vector<CreateFailure> create_failures;
    // Another program holds every device open for reading and writing: an
    // open asking for access fails unless it shares both.
    bool held_by_other_program = false;
    // SetupDiEnumDeviceInterfaces fails at this member index with this error.
    std::optional<std::pair<DWORD, DWORD>> enum_failure;
    // Size SetupDiGetDeviceInterfaceDetailW reports as required, instead of
    // the real one.
    std::optional<DWORD> detail_size;
    // A control transfer fails with this error code instead of reaching the
    // device.
    std::optional<DWORD> control_failure;
    // A device-to-host control transfer fills the whole buffer WinUSB was
    // given and reports that length, whatever wLength asked for.
    bool control_in_overrun = false;
    // Feature report IOCTLs stay pending until cancelled.
    bool hid_never_answers = false;
    // Bulk and interrupt pipe transfers end only when their timeout expires.
    bool pipes_never_answer = false;
    // The serial number string of every device, for both roles, as these
    // UTF-16 units instead of the device's own.
    std::optional<std::u16string> serial_units;
    // USB device nodes have location paths; their location information is
    // not empty.
    bool location_paths = true;
    bool location_information = true;
    // The console behind the standard input handle; none: not a console.
    std::optional<DWORD> console_mode;
    // The console's output code page; none: no console.
    std::optional<UINT> output_code_page;

    // What the backend did.
    std::vector<std::string> violations;
    std::vector<std::string> created_paths;     // every CreateFileW path, in order
    std::vector<DWORD> created_access;          // the access each asked for
    std::vector<std::string> winusb_accepted;   // names WinUsb_Initialize accepted
    std::vector<ULONG> control_buffer_lengths;  // BufferLength of each control transfer
    std::vector<ULONG> pipe_timeouts;           // PIPE_TRANSFER_TIMEOUT values set
    std::vector<DWORD> io_waits;                // waits on pending feature reports
    unsigned cancelled_ios = 0;
    std::vector<DWORD> console_modes_set;
    std::vector<PHANDLER_ROUTINE> control_handlers;  // installed now
    std::vector<UINT> output_code_pages_set;
    unsigned query_dos_calls = 0;
    unsigned enum_calls = 0;
};

State& state();
// Clears the state and backs the doubles with `backing`.
void reset(platform::Platform* backing);

// Objects the backend opened through the doubles and has not released:
// file handles, WinUSB interfaces, device information sets, preparsed data,
// and I/O requests whose end it has not collected.
std::size_t open_objects();

// The Configuration Manager's word that the device node `instance_id` was
// removed, to every notification registered for it; how many there were.
std::size_t notify_removal(const std::wstring& instance_id);
// Notifications registered and not yet unregistered.
std::size_t registered_notifications();

}  // namespace fake_win32

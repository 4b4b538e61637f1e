// The "op" of each trace record: one name per platform call the trace
// records, and the records of the run itself. The trace writes them; the
// replayer reads them back, so both take them from here.
#pragma once

namespace platform::trace_op {

// ---- Records of the run ----------------------------------------------------
inline constexpr const char* START = "start";
inline constexpr const char* CONSOLE = "console";
inline constexpr const char* EXIT = "exit";

// ---- WinUSB role -----------------------------------------------------------
inline constexpr const char* NAMES = "names";  // usb_device_names
inline constexpr const char* OPEN = "open";
inline constexpr const char* CLOSE = "close";
inline constexpr const char* DESCRIPTOR = "descriptor";
inline constexpr const char* CONTROL = "control";
inline constexpr const char* READ_PIPE = "read_pipe";
inline constexpr const char* WRITE_PIPE = "write_pipe";
inline constexpr const char* SETTINGS = "settings";  // usb_interface_settings
inline constexpr const char* PIPE = "pipe";          // usb_query_pipe
inline constexpr const char* SERIAL = "serial";
inline constexpr const char* PLACEMENT = "placement";

// ---- HID role --------------------------------------------------------------
inline constexpr const char* HID_LIST = "hid_list";  // hid_paths
inline constexpr const char* HID_OPEN = "hid_open";
inline constexpr const char* HID_CLOSE = "hid_close";
inline constexpr const char* HID_ATTRIBUTES = "hid_attributes";
inline constexpr const char* HID_CAPS = "hid_caps";
inline constexpr const char* GET_FEATURE = "get_feature";
inline constexpr const char* SET_FEATURE = "set_feature";
inline constexpr const char* HID_SERIAL = "hid_serial";
inline constexpr const char* HID_PLACEMENT = "hid_placement";

// ---- Time and console ------------------------------------------------------
inline constexpr const char* SLEEP = "sleep";
inline constexpr const char* QUICK_EDIT = "quick_edit";  // console_clear_quick_edit

}  // namespace platform::trace_op

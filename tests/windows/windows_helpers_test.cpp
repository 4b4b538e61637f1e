// The Windows backend's own helpers: device paths, the name list of
// QueryDosDeviceW, the mapping of WinUSB errors, instance IDs and names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows/device_node.h"
#include "platform/windows/open_failures.h"
#include "platform/windows/windows_platform.h"

namespace {

using platform::UsbError;
using platform::windows::device_path_for;
using platform::windows::split_dos_names;
using platform::windows::usb_error_from;

struct PathCase {
    std::size_t name_length;
    bool fits;
};

class DevicePath : public testing::TestWithParam<PathCase> {};

// "\\?\" paths are not bound to MAX_PATH, only to the longest object name.
TEST_P(DevicePath, TakesTheLongPathPrefixUpToTheLongestObjectName) {
    const std::string name(GetParam().name_length, 'n');
    const std::wstring path = device_path_for(name);
    if (GetParam().fits) {
        EXPECT_EQ(path, L"\\\\?\\" + std::wstring(GetParam().name_length, L'n'));
    } else {
        EXPECT_TRUE(path.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, DevicePath,
                         testing::Values(PathCase{1, true}, PathCase{268, true}, PathCase{1000, true},
                                         PathCase{32763, true}, PathCase{32764, false}, PathCase{0, false}));

TEST(DevicePath, KeepsCharactersBeyondAscii) {
    EXPECT_EQ(device_path_for("USB#VID_2F5A&PID_0001#Z\xc3\xa4hler"), L"\\\\?\\USB#VID_2F5A&PID_0001#Z\u00e4hler");
}

struct SplitCase {
    const char* name;
    std::string buffer;
    std::size_t stored;
    std::vector<std::string> names;
};

class DosNames : public testing::TestWithParam<SplitCase> {};

TEST_P(DosNames, SplitAtTerminatorsWithinTheStoredCount) {
    const std::vector<wchar_t> buffer(GetParam().buffer.begin(), GetParam().buffer.end());
    EXPECT_EQ(split_dos_names(buffer, GetParam().stored), GetParam().names);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Buffers, DosNames,
    testing::Values(SplitCase{"list", "A\0BC\0\0"s, 6, {"A", "BC"}},
                    SplitCase{"stored_stops_early", "A\0BC\0\0"s, 2, {"A"}},
                    SplitCase{"no_final_terminator", "A\0BC"s, 4, {"A", "BC"}},
                    SplitCase{"stored_beyond_buffer", "A\0B"s, 1000, {"A", "B"}},
                    SplitCase{"empty_names_skipped", "\0\0A\0"s, 4, {"A"}},
                    SplitCase{"nothing_stored", "A\0"s, 0, {}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

struct ErrorCase {
    DWORD error;
    UsbError kind;
};

class WinUsbErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(WinUsbErrors, MapToTheSeamsErrorKinds) { EXPECT_EQ(usb_error_from(GetParam().error), GetParam().kind); }

INSTANTIATE_TEST_SUITE_P(Codes, WinUsbErrors,
                         testing::Values(ErrorCase{ERROR_GEN_FAILURE, UsbError::general_failure},
                                         ErrorCase{ERROR_SEM_TIMEOUT, UsbError::timeout},
                                         ErrorCase{ERROR_DEVICE_NOT_CONNECTED, UsbError::device_gone},
                                         ErrorCase{ERROR_NO_SUCH_DEVICE, UsbError::device_gone},
                                         ErrorCase{ERROR_BAD_COMMAND, UsbError::device_gone},
                                         ErrorCase{ERROR_FILE_NOT_FOUND, UsbError::device_gone},
                                         ErrorCase{ERROR_INVALID_PARAMETER, UsbError::other},
                                         ErrorCase{ERROR_IO_INCOMPLETE, UsbError::other}));

struct InstanceCase {
    const wchar_t* name;
    const wchar_t* id;
    bool usb_device;  // the USB device node itself, not an interface or collection
};

class InstanceIds : public testing::TestWithParam<InstanceCase> {};

TEST_P(InstanceIds, FromNamesAndPathsWithoutRegardToCase) {
    const std::wstring id = platform::windows::device_instance_id(GetParam().name);
    EXPECT_EQ(id, GetParam().id);
    EXPECT_EQ(platform::windows::is_usb_device_id(id), GetParam().usb_device);
}

INSTANTIATE_TEST_SUITE_P(
    Names, InstanceIds,
    testing::Values(InstanceCase{L"USB#VID_2F5A&PID_0001&MI_01#7&1a&0&0001#{a5dcbf10}",
                                 L"USB\\VID_2F5A&PID_0001&MI_01\\7&1a&0&0001", false},
                    InstanceCase{L"usb#vid_2f5a&pid_0004#TC0001#{a5dcbf10}", L"usb\\vid_2f5a&pid_0004\\TC0001", true},
                    InstanceCase{L"\\\\?\\hid#vid_2f5a&pid_0001&mi_00#8&2&0&0000#{4d1e55b2}",
                                 L"hid\\vid_2f5a&pid_0001&mi_00\\8&2&0&0000", false},
                    InstanceCase{L"\\\\?\\usb#vid_2f5a&pid_0001&mi_01#7&1&0&0001#{x}",
                                 L"usb\\vid_2f5a&pid_0001&mi_01\\7&1&0&0001", false}));

struct HintCase {
    const char* name;
    bool hid_listed;  // the HID class driver's name of the interface is in the listing
    const char* hint;
};

class NotWinUsbHints : public testing::TestWithParam<HintCase> {};

TEST_P(NotWinUsbHints, NameTheInterfaceToBind) {
    platform::windows::OpenFailures failures;
    std::vector<std::string> listing{GetParam().name};
    if (GetParam().hid_listed) listing.push_back("HID#VID_2F5A&PID_0001&MI_00&Col01#8&2&0&0000#{4d1e55b2}");
    failures.new_listing(listing);
    failures.record_not_winusb(GetParam().name);
    EXPECT_EQ(failures.not_winusb_hint(), GetParam().hint);
    EXPECT_EQ(failures.in_use_hint(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Names, NotWinUsbHints,
    testing::Values(HintCase{"USB#VID_2F5A&PID_0004#TC0001#{a5dcbf10}", false,
                             "Device USB\\VID_2F5A&PID_0004 is present but not driven by WinUSB; bind WinUSB to the "
                             "device: docs/windows.md"},
                    HintCase{"USB#VID_2F5A&PID_800E&MI_0A#7&1&0&0001#{a5dcbf10}", false,
                             "Device USB\\VID_2F5A&PID_800E&MI_0A is present but not driven by WinUSB; bind WinUSB to "
                             "interface 10: docs/windows.md"},
                    HintCase{"usb#vid_2f5a&pid_0001&mi_00#7&1&0&0000#{a5dcbf10}", true, ""},
                    HintCase{"HID#VID_2F5A&PID_0001&MI_00#8&2&0&0000#{4d1e55b2}", false, ""}));

}  // namespace

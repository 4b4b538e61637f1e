// The Windows backend's own helpers: device paths, the name list of
// QueryDosDeviceW, the mapping of WinUSB errors, instance IDs and names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace

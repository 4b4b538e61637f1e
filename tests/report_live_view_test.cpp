// The terminal's live view of a run on several devices: each device's line
// redrawn in place, and the lines of a long station kept to the newest.
#include <gtest/gtest.h>

#include "report/live_view.h"

namespace {

// The text from the last drawing on: the cursor moved back over `lines`.
std::string last_drawing(const std::string& out, int lines) {
    const std::string up = "\x1b[" + std::to_string(lines) + "A";
    const auto at = out.rfind(up);
    return at == std::string::npos ? out : out.substr(at);
}

device_result ended(std::string text) {
    device_result result;
    result.text = std::move(text);
    return result;
}

TEST(LiveView, RedrawsEachDeviceLineInPlace) {
    console_capture captured;
    live_view view(captured.sink(), 8);
    const std::size_t first = view.add_line("TC0001");
    const std::size_t second = view.add_line("TC0002");
    std::uint64_t now = 1000;
    const auto line = view.line_reporter(first, [&] { return now; });
    line->device(usb_device_identity{}, run_path::hid);
    line->phase_begin(phase::transfer, {});
    now = 3000;
    line->progress(phase::transfer, 512 * 1024, 1024 * 1024);
    view.finished(second, ended("Communication error"));
    view.close();
    EXPECT_EQ(last_drawing(captured.out, 2),
              "\x1b[2A"
              "\r\x1b[2KTC0001            HID  transfer   50%   256.0 KB/s  0:02 left\n"
              "\r\x1b[2KTC0002            -    Communication error\n");
}

TEST(LiveView, KeepsTheNewestDevicesDoneAndClearsTheRest) {
    console_capture captured;
    live_view view(captured.sink(), 1);
    view.add_line("TC0001");
    for (const char* label : {"TC0002", "TC0003"}) view.finished(view.add_line(label), ended("OK"));
    // Three lines drawn, then two: the third is cleared and the cursor comes
    // back to below the two.
    const std::string shorter = "\r\x1b[2KTC0001            -    starting\n"
                                "\r\x1b[2KTC0003            -    OK\n"
                                "\r\x1b[2K\n\x1b[1A";
    EXPECT_NE(captured.out.find(shorter), std::string::npos);
    view.tally(2, 0);
    EXPECT_EQ(last_drawing(captured.out, 2),
              "\x1b[2A"
              "\r\x1b[2KTC0001            -    starting\n"
              "\r\x1b[2KTC0003            -    OK\n"
              "\r\x1b[2KStation: 2 upgraded, 0 failed.\n");
}

}  // namespace

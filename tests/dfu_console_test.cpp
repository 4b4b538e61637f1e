// The DFU path's console lines, from the transfer's events.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dfu/dfu_console.h"
#include "dfu_fake_platform.h"

namespace {

// A console whose two streams are temporary files read back as text.
struct CapturedConsole {
    dfu_console console;
    CapturedConsole() {
        console.out = std::tmpfile();
        console.err = std::tmpfile();
    }
    ~CapturedConsole() {
        std::fclose(console.out);
        std::fclose(console.err);
    }
    static std::string read(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
        return text;
    }
    std::string out() const { return read(console.out); }
    std::string err() const { return read(console.err); }
};

struct Step {
    dfu_event event;
    int value;
    const char* text = nullptr;
};

TEST(DfuConsoleEvent, PrintsTheLinesOfEachEvent) {
    const struct {
        const char* name;
        std::vector<Step> steps;
        const char* pending;
        std::string out;
        bool failed;
    } cases[] = {
        {"full transfer",
         {{DFU_EVENT_TRANSFER_BEGIN, 0}, {DFU_EVENT_PROGRESS, 0}, {DFU_EVENT_PROGRESS, 99}, {DFU_EVENT_PROGRESS, 100},
          {DFU_EVENT_PROGRESS, 100}, {DFU_EVENT_MANIFEST_BEGIN, 0}, {DFU_EVENT_MANIFEST_POLL, 0},
          {DFU_EVENT_MANIFEST_POLL, 0}, {DFU_EVENT_TRANSFER_END, 1}, {DFU_EVENT_TEXT_BEGIN, 0}, {DFU_EVENT_TEXT, 2}},
         nullptr, "Transfer image: ..........\nFlashing: ..\n\nFlash status: text here\n", false},
        {"progress restarts with a transfer",
         {{DFU_EVENT_TRANSFER_BEGIN, 0}, {DFU_EVENT_PROGRESS, 35}, {DFU_EVENT_TRANSFER_BEGIN, 0},
          {DFU_EVENT_PROGRESS, 5}},
         nullptr, "Transfer image: ....Transfer image: .", false},
        {"communication failure", {{DFU_EVENT_TRANSFER_END, 0}}, DFU_MSG_DNLOAD_FAILED,
         "\n[ERROR: Communication error (4)]\n", true},
        {"communication failure without message", {{DFU_EVENT_TRANSFER_END, 0}}, nullptr, "", true},
        {"device error", {{DFU_EVENT_TRANSFER_END, -1}}, "ERROR Verify", "\n", true},
        {"image info", {{DFU_EVENT_TEXT, 1}}, nullptr, "\nImage Info:\ntext here\n", false},
        {"no text", {{DFU_EVENT_TEXT, 0}}, nullptr, "\nFlash status: No status available\n\n", false},
        {"no information", {{DFU_EVENT_TEXT, -1}}, nullptr, "\nImage Info: No information available\n\n", false},
        {"detach", {{DFU_EVENT_DETACH_BEGIN, 0, "run-time"}, {DFU_EVENT_DETACH_END, 1}}, nullptr,
         "Detaching run-time device\n", false},
        {"failed detach", {{DFU_EVENT_DETACH_BEGIN, 0, "DFU"}, {DFU_EVENT_DETACH_END, 0}}, nullptr,
         "Detaching DFU device\n", true},
    };
    for (const auto& c : cases) {
        dfu_test::FakePlatform fake;
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        std::snprintf(device->status_text.data(), device->status_text.size(), "text here");
        device->pending_message = c.pending;
        CapturedConsole captured;
        for (const Step& step : c.steps) dfu_console_event(captured.console, *device, step.event, step.value, step.text);
        EXPECT_EQ(captured.out(), c.out) << c.name;
        EXPECT_EQ(captured.err(), "") << c.name;
        EXPECT_EQ(captured.console.failed, c.failed) << c.name;
        if (c.pending != nullptr && c.steps.back().value == 0) {
            EXPECT_EQ(device->pending_message, nullptr) << c.name;
        }
    }
}

TEST(DfuReportFailure, NamesWhatCouldNotBeDoneAndClosesTheDevice) {
    for (const bool with_image : {true, false}) {
        dfu_test::FakePlatform fake;
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        CapturedConsole captured;
        dfu_report_failure(captured.console, device, with_image);
        EXPECT_EQ(device, nullptr);
        EXPECT_EQ(captured.out(), "\n");
        EXPECT_EQ(captured.err(), with_image ? "\nERROR: Could not upgrade device.\n"
                                             : "\nERROR: Could not get read info from device.\n");
    }
}

}  // namespace

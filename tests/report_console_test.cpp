// The console reporter: the texts, dots and banners each event sequence
// writes, for each path, and the DFU transfer's events relayed to it.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "dfu/dfu_path.h"
#include "dfu_fake_platform.h"
#include "report/console_reporter.h"

namespace {

struct console_case {
    const char* name;
    run_path path;
    std::function<void(reporter&)> events;
    const char* out;
    const char* err = "";
};

const usb_device_identity DEVICE{};

// Each case starts after the path's interface line.
void check(const console_case& c) {
    console_capture captured;
    console_reporter console("", captured.sink());
    console.device(DEVICE, c.path);
    captured.out.clear();
    c.events(console);
    EXPECT_EQ(captured.out, c.out) << c.name;
    EXPECT_EQ(captured.err, c.err) << c.name;
}

TEST(ConsoleReporter, WritesEachPathsTexts) {
    const console_case cases[] = {
        // The native path shows, with each piece, how far the image was
        // before it: two pieces of half the image make five dots.
        {"native transfer of two pieces", run_path::hid,
         [](reporter& r) {
             r.phase_begin(phase::transfer, {});
             r.progress(phase::transfer, 50, 100);
             r.progress(phase::transfer, 100, 100);
             r.phase_end(phase::transfer, succeeded());
         },
         "Transfer image: .....\n"},
        {"native flash polls", run_path::hid,
         [](reporter& r) {
             r.phase_begin(phase::flash, {});
             r.poll(phase::flash);
             r.poll(phase::flash);
             r.phase_end(phase::flash, failed(failure::communication));
         },
         "Flashing: ..\n"},
        {"native flash status", run_path::hid,
         [](reporter& r) {
             r.info(info_kind::flash_status, "bad sector", -3);
             r.info(info_kind::flash_status, "", 0);
         },
         "\nFlash status: bad sector, -3\n\nFlash OK!\n"},
        {"native wait", run_path::hid,
         [](reporter& r) {
             r.phase_begin(phase::wait, {});
             r.poll(phase::wait);
             r.waited(true, 0x0001, std::nullopt);
             r.phase_begin(phase::wait, {});
             r.waited(false, 0, std::nullopt);
         },
         "Waiting for Korvix device to appear.. [OK - 2f5a:0001]\nWaiting for Korvix device to appear. [FAIL]\n"},
        {"link steps get one LOG: per line", run_path::kxp,
         [](reporter& r) {
             r.phase_begin(phase::prepare, {});
             r.phase_end(phase::prepare, succeeded());
             r.phase_begin(phase::flash, {});
             r.poll(phase::flash);
             r.phase_end(phase::flash, succeeded());
         },
         "LOG:* Initialize     [OK]\nLOG:* Program image  .[OK]\n"},
        {"a link failure keeps the line", run_path::kxp,
         [](reporter& r) {
             r.phase_begin(phase::transfer, {});
             r.progress(phase::transfer, 10, 10);
             r.phase_end(phase::transfer, failed(failure::communication, 5));
         },
         "LOG:* Transfer image ERROR:[FAIL 5]\n"},
        {"failed link preparation", run_path::kxp,
         [](reporter& r) {
             r.phase_begin(phase::prepare, {});
             r.phase_end(phase::prepare, failed(failure::device_status, 3));
         },
         "LOG:* Initialize     ERROR:[FAIL]: Failed to prepare firmware upgrade\n"},
        {"link notice and boot wait", run_path::kxp,
         [](reporter& r) {
             r.notice("NOTICE: Not doing upgrade since no image provided");
             r.phase_begin(phase::wait, {});
             r.poll(phase::wait);
             r.waited(false, 0, std::nullopt);
         },
         "ERROR:NOTICE: Not doing upgrade since no image provided\n* Wait for boot  ", "[FAIL]\n"},
        {"DFU wait shows the release", run_path::dfu,
         [](reporter& r) {
             r.phase_begin(phase::wait, {});
             r.waited(true, 0x0004, 0x0100);
         },
         "Waiting for Korvix device to appear. [OK - 2f5a:0004 v0100]\n"},
        {"banners", run_path::hid,
         [](reporter& r) {
             r.result(succeeded(), 0);
             r.result(failed(failure::no_device), 1);
         },
         "*************************\n* Operations succeeded! *\n*************************\n\n"
         "*********************************************************\n"
         "* Operations failed! Please retry or call tech support. *\n"
         "*********************************************************\n\n"},
    };
    for (const auto& c : cases) check(c);
}

TEST(ConsoleReporter, ErrorLinesFollowWhatStandardOutputHolds) {
    console_capture captured;
    console_reporter console("", captured.sink());
    console.say("Read file: <x>...");
    console.error(error_of(message::image_empty, failed(failure::image_empty), "x"));
    console.hint("Add yourself to the plugdev group.");
    EXPECT_EQ(captured.both,
              "Read file: <x>...ERROR: The image file <x> is empty.\nAdd yourself to the plugdev group.\n");
}

struct Step {
    dfu_event event;
    int value;
    const char* text = nullptr;
};

TEST(DfuRelay, WritesTheLinesOfEachTransferEvent) {
    const struct {
        const char* name;
        std::vector<Step> steps;
        outcome failure;
        std::string out;
        bool failed;
    } cases[] = {
        {"full transfer",
         {{DFU_EVENT_TRANSFER_BEGIN, 0},
          {DFU_EVENT_PROGRESS, 0},
          {DFU_EVENT_PROGRESS, 99},
          {DFU_EVENT_PROGRESS, 100},
          {DFU_EVENT_PROGRESS, 100},
          {DFU_EVENT_MANIFEST_BEGIN, 0},
          {DFU_EVENT_MANIFEST_POLL, 0},
          {DFU_EVENT_MANIFEST_POLL, 0},
          {DFU_EVENT_TRANSFER_END, 1},
          {DFU_EVENT_TEXT_BEGIN, 0},
          {DFU_EVENT_TEXT, 2}},
         succeeded(),
         "Transfer image: ..........\nFlashing: ..\n\nFlash status: text here\n",
         false},
        {"progress restarts with a transfer",
         {{DFU_EVENT_TRANSFER_BEGIN, 0},
          {DFU_EVENT_PROGRESS, 35},
          {DFU_EVENT_TRANSFER_BEGIN, 0},
          {DFU_EVENT_PROGRESS, 5}},
         succeeded(),
         "Transfer image: ....Transfer image: .",
         false},
        {"communication failure",
         {{DFU_EVENT_TRANSFER_END, 0}},
         failed(failure::communication, DFU_FAILED_DNLOAD),
         "\n[ERROR: Communication error (4)]\n",
         true},
        {"manifestation never ends",
         {{DFU_EVENT_TRANSFER_END, 0}},
         failed(failure::communication, DFU_FAILED_MANIFEST_TIMEOUT),
         "\n[ERROR: Communication error (6): device still flashing after 3000 status polls]\n",
         true},
        {"device error", {{DFU_EVENT_TRANSFER_END, -1}}, failed(failure::device_status, 7), "\n", true},
        {"image info", {{DFU_EVENT_TEXT, 1}}, succeeded(), "\nImage Info:\ntext here\n", false},
        {"no text", {{DFU_EVENT_TEXT, 0}}, succeeded(), "\nFlash status: No status available\n\n", false},
        {"no information", {{DFU_EVENT_TEXT, -1}}, succeeded(), "\nImage Info: No information available\n\n", false},
        {"detach",
         {{DFU_EVENT_DETACH_BEGIN, 0, "run-time"}, {DFU_EVENT_DETACH_END, 1}},
         succeeded(),
         "Detaching run-time device\n",
         false},
        {"failed detach",
         {{DFU_EVENT_DETACH_BEGIN, 0, "DFU"}, {DFU_EVENT_DETACH_END, 0}},
         succeeded(),
         "Detaching DFU device\n",
         true},
    };
    for (const auto& c : cases) {
        dfu_test::FakePlatform fake;
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        std::snprintf(device->status_text.data(), device->status_text.size(), "text here");
        device->failure = c.failure;
        console_capture captured;
        console_reporter console("", captured.sink());
        console.device(DEVICE, run_path::dfu);
        captured.out.clear();
        dfu_relay relay{console, 100, false, false, succeeded()};
        for (const Step& step : c.steps) dfu_relay_event(relay, *device, step.event, step.value, step.text);
        EXPECT_EQ(captured.out, c.out) << c.name;
        EXPECT_EQ(captured.err, "") << c.name;
        EXPECT_EQ(!relay.cause.ok(), c.failed) << c.name;
    }
}

}  // namespace

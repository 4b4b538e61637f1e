// The DFU path end to end over the simulated bus: what the device saw of
// each upgrade, and how the procedure ends for each device behaviour.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "dfu/dfu_path.h"
#include "report/console_reporter.h"
#include "native/hid_path.h"
#include "sim/bridge.h"
#include "sim/dfu_run_time_function.h"
#include "sim/sim_platform.h"
#include "sim/touch_controller.h"
#include "usb/le.h"

namespace {

namespace dfu = sim::dfu;

constexpr std::size_t BUILT_IN_LENGTH = 865856;

// A DFU file: a pseudo-random body and the 16-byte DFU 1.1 suffix.
std::vector<std::uint8_t> dfu_file(std::size_t length, bool good_crc = true) {
    std::vector<std::uint8_t> file(length);
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i + 16 < length; ++i) {
        seed = seed * 1103515245 + 12345;
        file[i] = static_cast<std::uint8_t>(seed >> 16);
    }
    std::span<std::uint8_t> suffix = std::span(file).last(16);
    put_le16(suffix, 0, 0xFFFF);
    put_le16(suffix, 2, 0xFFFF);
    put_le16(suffix, 4, DEVICE_VENDOR_ID);
    put_le16(suffix, 6, 0x0100);
    suffix[8] = 'U';
    suffix[9] = 'F';
    suffix[10] = 'D';
    suffix[11] = 16;
    const auto crc = static_cast<std::uint32_t>(~crc32(0L, file.data(), static_cast<uInt>(length - 4)));
    put_le32(suffix, 12, good_crc ? crc : crc ^ 1);
    return file;
}

enum class Start { touch, bridge, dfu_mode, nothing };

struct Rig {
    sim::Clock clock;
    sim::SimPlatform os{clock};
    std::shared_ptr<sim::DfuFirmware> firmware = std::make_shared<sim::DfuFirmware>();
    std::shared_ptr<sim::CompositeDevice> device;
    console_capture captured;
    console_reporter console{"", captured.sink()};

    using Tweak = std::function<void(sim::DfuConfig&)>;

    explicit Rig(Start start, const Tweak& tweak = {}) {
        if (tweak) tweak(firmware->config());
        if (start == Start::bridge) {
            device = std::make_shared<sim::Bridge>(sim::BridgeConfig{}, firmware);
        } else if (start != Start::nothing) {
            sim::TouchParts parts;
            parts.dfu_runtime = std::make_shared<sim::DfuRunTimeFunction>(firmware);
            device = std::make_shared<sim::TouchController>(sim::TouchConfig{}, parts);
            if (start == Start::dfu_mode) sim::start_in_dfu_mode(*device, firmware, 0);
        }
        if (device) os.attach(device);
    }
    // What the path wrote after its interface line.
    std::string out() const { return captured.out.substr(captured.out.find("\n\n") + 2); }
    std::string err() const { return captured.err; }
    // Without an image: information mode. The run's device is the one
    // attached (none: a device that never appears).
    int upgrade(std::optional<std::span<const std::uint8_t>> image, bool reset_after = true) {
        const std::vector<usb_device_identity> attached = usb_list_devices(os);
        const usb_device_identity device = attached.empty() ? usb_device_identity{} : attached.front();
        run_context run{os, console, device};
        run_job job;
        job.image = image;
        job.read_info = !image;
        job.restart_after = reset_after;
        return dfu_path(run, job).ok() ? 0 : -1;
    }
    const sim::DfuRecord& record() const { return firmware->record(); }
    std::vector<sim::DfuRequest> requests(sim::DfuMode mode) const {
        std::vector<sim::DfuRequest> found;
        for (const auto& request : record().requests)
            if (request.mode == mode) found.push_back(request);
        return found;
    }
};

TEST(DfuWire, TheBuiltInImageGoesOutInBlocksWithoutStatusBetweenThem) {
    Rig rig(Start::touch);
    const auto image = dfu_file(BUILT_IN_LENGTH);
    ASSERT_EQ(rig.upgrade(std::span<const std::uint8_t>(image)), 0) << rig.out() << rig.err();
    const auto& blocks = rig.record().blocks;
    ASSERT_EQ(blocks.size(), 213u);
    for (std::size_t i = 0; i < 211; ++i) {
        EXPECT_EQ(blocks[i].number, i);
        EXPECT_EQ(blocks[i].length, 4096u);
    }
    EXPECT_EQ(blocks[211].number, 211);
    EXPECT_EQ(blocks[211].length, 1600u);
    EXPECT_EQ(blocks[212].number, 212);
    EXPECT_EQ(blocks[212].length, 0u);
    EXPECT_EQ(rig.record().received, image);
    ASSERT_TRUE(rig.firmware->installed());
    EXPECT_EQ(*rig.firmware->installed(), image);
    EXPECT_EQ(rig.record().illegal, 0u);

    // Between the first block and the zero-length block: DNLOAD only.
    const auto dfu_requests = rig.requests(sim::DfuMode::dfu);
    std::size_t first = 0;
    while (first < dfu_requests.size() && dfu_requests[first].setup.request != dfu::DNLOAD) ++first;
    for (std::size_t i = first; i < first + 213; ++i) ASSERT_EQ(dfu_requests.at(i).setup.request, dfu::DNLOAD) << i;
}

TEST(DfuWire, EveryRequestCarriesItsSetupPacket) {
    Rig rig(Start::touch);
    const auto image = dfu_file(5000);
    ASSERT_EQ(rig.upgrade(std::span<const std::uint8_t>(image)), 0);
    const struct {
        std::uint8_t request;
        std::uint8_t request_type;
        std::uint16_t length;
    } expected[] = {
        {dfu::DETACH, 0x21, 0}, {dfu::DNLOAD, 0x21, 4096}, {dfu::UPLOAD, 0xA1, 64},
        {dfu::GETSTATUS, 0xA1, 6}, {dfu::CLRSTATUS, 0x21, 0}, {dfu::ABORT, 0x21, 0},
    };
    for (const auto& request : rig.record().requests) {
        const auto& setup = request.setup;
        EXPECT_EQ(setup.index, request.mode == sim::DfuMode::run_time ? 1 : 0);
        EXPECT_EQ(request.status, sim::TransferStatus::ack);
        for (const auto& e : expected) {
            if (e.request != setup.request) continue;
            EXPECT_EQ(setup.request_type, e.request_type) << int(e.request);
            if (e.request != dfu::DNLOAD) {
                EXPECT_EQ(setup.length, e.length) << int(e.request);
            }
        }
        if (setup.request == dfu::DETACH) {
            EXPECT_EQ(setup.value, 1000);
        }
        if (setup.request == dfu::GETSTATUS || setup.request == dfu::CLRSTATUS) {
            EXPECT_EQ(setup.value, 0);
        }
    }
    const auto run_time = rig.requests(sim::DfuMode::run_time);
    ASSERT_EQ(run_time.size(), 1u);
    EXPECT_EQ(run_time[0].setup.request, dfu::DETACH);
    EXPECT_EQ(rig.record().run_time_detaches, 1u);
    EXPECT_EQ(rig.record().dfu_detaches, 1u);
}

TEST(DfuWire, PrintsTheWholeRunOfAnUpgrade) {
    Rig rig(Start::touch, [](sim::DfuConfig& c) { c.manifest_ms = 300; });
    const auto image = dfu_file(5000);
    ASSERT_EQ(rig.upgrade(std::span<const std::uint8_t>(image)), 0);
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(le32(image, 4996)));
    const std::string expected = std::string("Waiting for Korvix device to appear. [OK - 2f5a:0001 v0100]\n") +
                                 "Detaching run-time device\n" +
                                 "Waiting for Korvix device to appear." + std::string(10, '.') +
                                 " [OK - 2f5a:0004 v0100]\n"
                                 "Flash process begins. Please do not power off or unplug your machine.\n"
                                 "Transfer image: ..........\nFlashing: ...\n"
                                 "\nFlash status: Image accepted: 5000 bytes, CRC " + crc + "\n" +
                                 "Detaching DFU device\n" +
                                 "Waiting for Korvix device to appear." + std::string(10, '.') +
                                 " [OK - 2f5a:0001 v0100]\n\n";
    EXPECT_EQ(rig.out(), expected);
    EXPECT_EQ(rig.err(), "");
}

TEST(DfuWire, EndsAsTheDeviceBehaves) {
    const auto good = dfu_file(9000);
    const auto bad_crc = dfu_file(9000, false);
    const struct {
        const char* name;
        Start start;
        Rig::Tweak tweak;
        const std::vector<std::uint8_t>* image;
        bool reset_after;
        int result;
        const char* out_contains;
        const char* err;
        unsigned dfu_detaches;
    } cases[] = {
        {"already in DFU mode", Start::dfu_mode, {}, &good, true, 0, "Detaching DFU device", "", 1},
        {"bridge", Start::bridge, {}, &good, true, 0, "[OK - 2f5a:800e v0100]", "", 1},
        {"stalled run-time detach", Start::touch, [](sim::DfuConfig& c) { c.detach_stall = true; }, &good, true, 0, "Flash status: Image accepted",
         "", 1},
        {"skip reset", Start::touch, {}, &good, false, 0, "[OK - 2f5a:0004 v0100]\n\n", "", 0},
        {"never back", Start::touch, [](sim::DfuConfig& c) { c.detach_never_back = true; }, &good, true, -1, " [FAIL]\n",
         "\nERROR: Could not upgrade device.\n", 0},
        {"back in run-time mode", Start::touch, [](sim::DfuConfig& c) { c.detach_stays_run_time = true; }, &good, true, -1, "",
         "\nERROR: Device is not in upgrade mode.\n\nERROR: Could not upgrade device.\n", 0},
        {"bad CRC", Start::touch, {}, &bad_crc, true, -1, "\nFlash status: Image rejected: Image CRC mismatch\nERROR Verify\n",
         "\nERROR: Could not upgrade device.\n", 1},
        {"failed block", Start::touch, [](sim::DfuConfig& c) { c.fail_at[dfu::DNLOAD] = 2; }, &good, true, -1,
         "Transfer image: .....\n[ERROR: Communication error (4)]\n", "\nERROR: Could not upgrade device.\n", 1},
        {"short block", Start::touch, [](sim::DfuConfig& c) { c.short_block = 0; c.short_count = 100; }, &good, true, 0, "Flash status: Image accepted",
         "", 1},
        {"read info", Start::touch, {}, nullptr, true, 0, "\nImage Info:\nRunning image: factory firmware 1.0.0\n", "", 1},
        {"no text", Start::dfu_mode, [](sim::DfuConfig& c) { c.fail_at[dfu::UPLOAD] = 1; }, nullptr, false, -1,
         "\nImage Info: No information available\n\n", "\nERROR: Could not get read info from device.\n", 0},
    };
    for (const auto& c : cases) {
        Rig rig(c.start, c.tweak);
        std::optional<std::span<const std::uint8_t>> image;
        if (c.image != nullptr) image = std::span<const std::uint8_t>(*c.image);
        EXPECT_EQ(rig.upgrade(image, c.reset_after), c.result) << c.name;
        const std::string out = rig.out();
        EXPECT_NE(out.find(c.out_contains), std::string::npos) << c.name << "\n" << out;
        EXPECT_EQ(rig.err(), c.err) << c.name;
        EXPECT_EQ(rig.record().dfu_detaches, c.dfu_detaches) << c.name;
        EXPECT_EQ(rig.record().illegal, 0u) << c.name;
    }
}

TEST(DfuWire, NoDeviceWaitsSixHundredAndOneTimes) {
    Rig rig(Start::nothing);
    EXPECT_EQ(rig.upgrade(std::nullopt), -1);
    EXPECT_EQ(rig.out(), "Waiting for Korvix device to appear." + std::string(601, '.') + " [FAIL]\n\n");
    EXPECT_EQ(rig.err(), "\nERROR: Could not get read info from device.\n");
    EXPECT_EQ(rig.clock.now(), 601u * 100u);
}

TEST(DfuWire, TheBridgeAnswersTheNativeProtocolOverBulkPackets) {
    Rig rig(Start::bridge);
    usb_device_identity bridge;
    bridge.product_id = sim::BRIDGE_PRODUCT_ID;
    EXPECT_TRUE(hid_probe(rig.os, bridge));
    EXPECT_EQ(static_cast<sim::Bridge&>(*rig.device).native().record().commands, std::vector<std::uint8_t>{0});
}

}  // namespace

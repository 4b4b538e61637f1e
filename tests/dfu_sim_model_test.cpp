// The simulated DFU function on its own: which requests each state allows,
// what it answers and records, and its re-enumeration into and out of DFU mode.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/bridge.h"
#include "sim/dfu_mode_function.h"
#include "sim/dfu_run_time_function.h"
#include "sim/touch_controller.h"

namespace {

using sim::SetupPacket;
using sim::TransferStatus;
namespace dfu = sim::dfu;

SetupPacket out(std::uint8_t request, std::uint16_t value = 0, std::uint16_t length = 0, std::uint16_t index = 0) {
    return {0x21, request, value, index, length};
}
SetupPacket in(std::uint8_t request, std::uint16_t length, std::uint16_t value = 0, std::uint16_t index = 0) {
    return {0xA1, request, value, index, length};
}

// A DFU-mode function driven request by request.
struct DfuModeDriver {
    std::shared_ptr<sim::DfuFirmware> firmware = std::make_shared<sim::DfuFirmware>();
    sim::DfuModeFunction function{firmware, {}};
    std::uint64_t now = 0;

    TransferStatus send(const SetupPacket& setup, std::vector<std::uint8_t> data = {}) {
        data.resize(setup.length);
        std::size_t moved = 0;
        return function.control(now, setup, data, moved);
    }
    std::vector<std::uint8_t> status() {
        std::vector<std::uint8_t> reply(6);
        std::size_t moved = 0;
        EXPECT_EQ(function.control(now, in(dfu::GETSTATUS, 6), reply, moved), TransferStatus::ack);
        EXPECT_EQ(moved, 6u);
        return reply;
    }
    std::string upload_all() {
        std::string text;
        for (int block = 0; block < 100; ++block) {
            std::vector<std::uint8_t> chunk(64);
            std::size_t moved = 0;
            EXPECT_EQ(function.control(now, in(dfu::UPLOAD, 64, static_cast<std::uint16_t>(block)), chunk, moved),
                      TransferStatus::ack);
            text.append(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(moved));
            if (moved < 64) break;
        }
        return text;
    }
};

// Brings a fresh function into `state` with legal requests.
void reach(DfuModeDriver& d, std::uint8_t state) {
    switch (state) {
    case dfu::IDLE: break;
    case dfu::DNLOAD_SYNC: d.send(out(dfu::DNLOAD, 0, 16)); break;
    case dfu::DNLOAD_IDLE: d.send(out(dfu::DNLOAD, 0, 16)); d.status(); break;
    case dfu::MANIFEST_SYNC: d.send(out(dfu::DNLOAD, 0, 16)); d.send(out(dfu::DNLOAD, 1, 0)); break;
    case dfu::UPLOAD_IDLE: d.firmware->config().status_text = std::string(100, 't'); d.send(in(dfu::UPLOAD, 64)); break;
    case dfu::ERROR: d.send(out(dfu::CLRSTATUS)); break;
    }
    ASSERT_EQ(d.function.state(), state);
}

TEST(SimDfuMode, AllowsOnlyTheRequestsOfEachState) {
    const struct {
        std::uint8_t state;
        SetupPacket request;
        TransferStatus status;
        std::uint8_t next;
    } cases[] = {
        {dfu::IDLE, out(dfu::DNLOAD, 0, 64), TransferStatus::ack, dfu::DNLOAD_SYNC},
        {dfu::IDLE, out(dfu::DNLOAD, 0, 0), TransferStatus::stall, dfu::ERROR},
        {dfu::IDLE, out(dfu::DNLOAD, 0, 4097), TransferStatus::stall, dfu::ERROR},
        {dfu::IDLE, in(dfu::UPLOAD, 64), TransferStatus::ack, dfu::IDLE},  // short info text
        {dfu::IDLE, out(dfu::ABORT), TransferStatus::ack, dfu::IDLE},
        {dfu::IDLE, out(dfu::CLRSTATUS), TransferStatus::stall, dfu::ERROR},
        {dfu::IDLE, out(dfu::DETACH, 1000), TransferStatus::ack, dfu::IDLE},
        {dfu::IDLE, out(0x22), TransferStatus::stall, dfu::ERROR},
        {dfu::IDLE, in(dfu::GETSTATE, 1), TransferStatus::ack, dfu::IDLE},
        {dfu::DNLOAD_SYNC, out(dfu::DNLOAD, 1, 64), TransferStatus::ack, dfu::DNLOAD_SYNC},  // back to back
        {dfu::DNLOAD_SYNC, out(dfu::DNLOAD, 1, 0), TransferStatus::ack, dfu::MANIFEST_SYNC},
        {dfu::DNLOAD_SYNC, in(dfu::UPLOAD, 64), TransferStatus::stall, dfu::ERROR},
        {dfu::DNLOAD_IDLE, out(dfu::DNLOAD, 1, 64), TransferStatus::ack, dfu::DNLOAD_SYNC},
        {dfu::DNLOAD_IDLE, out(dfu::ABORT), TransferStatus::ack, dfu::IDLE},
        {dfu::DNLOAD_IDLE, out(dfu::DETACH, 1000), TransferStatus::stall, dfu::ERROR},
        {dfu::DNLOAD_IDLE, out(dfu::CLRSTATUS), TransferStatus::stall, dfu::ERROR},
        {dfu::MANIFEST_SYNC, out(dfu::DNLOAD, 2, 64), TransferStatus::stall, dfu::ERROR},
        {dfu::MANIFEST_SYNC, out(dfu::ABORT), TransferStatus::stall, dfu::ERROR},
        {dfu::MANIFEST_SYNC, in(dfu::GETSTATE, 1), TransferStatus::ack, dfu::MANIFEST_SYNC},
        {dfu::UPLOAD_IDLE, in(dfu::UPLOAD, 64), TransferStatus::ack, dfu::IDLE},  // 36 bytes left: short frame
        {dfu::UPLOAD_IDLE, out(dfu::ABORT), TransferStatus::ack, dfu::IDLE},
        {dfu::UPLOAD_IDLE, out(dfu::DNLOAD, 0, 64), TransferStatus::stall, dfu::ERROR},
        {dfu::ERROR, out(dfu::CLRSTATUS), TransferStatus::ack, dfu::IDLE},
        {dfu::ERROR, out(dfu::ABORT), TransferStatus::stall, dfu::ERROR},
        {dfu::ERROR, out(dfu::DETACH, 1000), TransferStatus::stall, dfu::ERROR},
        {dfu::ERROR, out(dfu::DNLOAD, 0, 64), TransferStatus::stall, dfu::ERROR},
    };
    for (const auto& c : cases) {
        DfuModeDriver d;
        reach(d, c.state);
        const unsigned illegal_before = d.firmware->record().illegal;
        EXPECT_EQ(d.send(c.request), c.status) << int(c.state) << " request " << int(c.request.request);
        EXPECT_EQ(d.function.state(), c.next) << int(c.state) << " request " << int(c.request.request);
        EXPECT_EQ(d.firmware->record().illegal - illegal_before, c.status == TransferStatus::stall ? 1u : 0u);
        EXPECT_EQ(d.firmware->record().requests.back().state_before, c.state);
    }
}

TEST(SimDfuMode, ManifestationTakesDeviceTimeAndEndsWithTheVerdict) {
    const struct {
        const char* name;
        std::optional<std::uint8_t> forced;
        std::uint8_t final_state;
        std::uint8_t final_status;
    } cases[] = {
        {"not a DFU file", std::nullopt, dfu::ERROR, dfu::ERR_FILE},
        {"forced good", std::uint8_t{0}, dfu::IDLE, dfu::OK},
        {"forced verify", std::uint8_t{7}, dfu::ERROR, dfu::ERR_VERIFY},
    };
    for (const auto& c : cases) {
        DfuModeDriver d;
        d.firmware->config().manifest_ms = 250;
        d.firmware->config().manifest_status = c.forced;
        d.send(out(dfu::DNLOAD, 0, 100), std::vector<std::uint8_t>(100, 0xAB));
        d.send(out(dfu::DNLOAD, 1, 0));
        std::vector<std::uint8_t> reply = d.status();
        EXPECT_EQ(reply[4], dfu::MANIFEST) << c.name;
        EXPECT_EQ(reply[1] | (reply[2] << 8), 250) << c.name;  // bwPollTimeout: time left
        d.now = 249;
        EXPECT_EQ(d.status()[4], dfu::MANIFEST) << c.name;
        d.now = 250;
        reply = d.status();
        EXPECT_EQ(reply[4], c.final_state) << c.name;
        EXPECT_EQ(reply[0], c.final_status) << c.name;
        EXPECT_EQ(d.firmware->installed().has_value(), c.final_status == dfu::OK) << c.name;
    }
}

TEST(SimDfuMode, UploadsTheTextInBlocksWithNuls) {
    const struct {
        std::string text;
        std::size_t requests;
    } cases[] = {
        {"", 1},
        {std::string("a\0b", 3), 1},
        {std::string(64, 'x'), 2},
        {std::string(130, 'y'), 3},
    };
    for (const auto& c : cases) {
        DfuModeDriver d;
        d.firmware->config().status_text = c.text;
        EXPECT_EQ(d.upload_all(), c.text);
        EXPECT_EQ(d.firmware->record().requests.size(), c.requests);
        EXPECT_EQ(d.function.state(), dfu::IDLE);
    }
}

TEST(SimDfuMode, RecordsBlocksAndTakesShortOnesWhenAsked) {
    DfuModeDriver d;
    d.firmware->config().short_block = 1;
    d.firmware->config().short_count = 10;
    std::vector<std::uint8_t> block(64);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
    d.send(out(dfu::DNLOAD, 0, 64), block);
    d.send(out(dfu::DNLOAD, 1, 64), block);
    const auto& record = d.firmware->record();
    ASSERT_EQ(record.blocks.size(), 2u);
    EXPECT_EQ(record.blocks[1].length, 10u);
    EXPECT_EQ(record.received.size(), 74u);
    EXPECT_EQ(record.requests.back().transferred, 10u);
    EXPECT_EQ(std::vector<std::uint8_t>(record.received.begin() + 64, record.received.end()),
              std::vector<std::uint8_t>(block.begin(), block.begin() + 10));
}

TEST(SimDfuMode, InjectedFailuresStallTheirOccurrenceOnly) {
    DfuModeDriver d;
    d.firmware->config().fail_at[dfu::DNLOAD] = 2;
    EXPECT_EQ(d.send(out(dfu::DNLOAD, 0, 8)), TransferStatus::ack);
    EXPECT_EQ(d.send(out(dfu::DNLOAD, 1, 8)), TransferStatus::stall);
    EXPECT_EQ(d.function.state(), dfu::ERROR);
    EXPECT_EQ(d.send(out(dfu::CLRSTATUS)), TransferStatus::ack);
    EXPECT_EQ(d.send(out(dfu::DNLOAD, 0, 8)), TransferStatus::ack);
}

TEST(SimDfuRunTime, DetachReenumeratesAsTheKnobsSay) {
    const struct {
        const char* name;
        bool stall;
        bool never_back;
        bool stays;
        TransferStatus status;
        bool present_at_2000;
        std::uint16_t product_at_2000;
    } cases[] = {
        {"into DFU mode", false, false, false, TransferStatus::ack, true, 0x0004},
        {"stalls but detaches", true, false, false, TransferStatus::stall, true, 0x0004},
        {"never back", false, true, false, TransferStatus::ack, false, 0},
        {"stays in run-time mode", false, false, true, TransferStatus::ack, true, sim::BRIDGE_PRODUCT_ID},
    };
    for (const auto& c : cases) {
        auto firmware = std::make_shared<sim::DfuFirmware>();
        firmware->config().detach_stall = c.stall;
        firmware->config().detach_never_back = c.never_back;
        firmware->config().detach_stays_run_time = c.stays;
        sim::Bridge bridge({}, firmware);
        std::vector<std::uint8_t> none;
        std::size_t moved = 0;
        EXPECT_EQ(bridge.control(100, out(dfu::DETACH, 1000, 0, 1), none, moved), c.status) << c.name;
        EXPECT_TRUE(bridge.present(105)) << c.name;
        EXPECT_FALSE(bridge.present(200)) << c.name;
        EXPECT_EQ(bridge.present(2000), c.present_at_2000) << c.name;
        if (c.present_at_2000) {
            const auto descriptor = bridge.device_descriptor();
            EXPECT_EQ(descriptor[10] | (descriptor[11] << 8), c.product_at_2000) << c.name;
        }
        EXPECT_EQ(firmware->record().run_time_detaches, 1u) << c.name;
    }
}

TEST(SimDfuRunTime, AnswersStatusInAppIdleAndRefusesDfuModeRequests) {
    auto firmware = std::make_shared<sim::DfuFirmware>();
    sim::Bridge bridge({}, firmware);
    std::vector<std::uint8_t> reply(6);
    std::size_t moved = 0;
    EXPECT_EQ(bridge.control(0, in(dfu::GETSTATUS, 6, 0, 1), reply, moved), TransferStatus::ack);
    EXPECT_EQ(reply[4], dfu::APP_IDLE);
    std::vector<std::uint8_t> block(16);
    EXPECT_EQ(bridge.control(0, out(dfu::DNLOAD, 0, 16, 1), block, moved), TransferStatus::stall);
    EXPECT_EQ(firmware->record().illegal, 1u);
    std::vector<std::uint8_t> none;
    EXPECT_EQ(bridge.control(0, out(dfu::DETACH, 1000, 0, 1), none, moved), TransferStatus::ack);
    std::vector<std::uint8_t> state(1, 0xFF);
    EXPECT_EQ(bridge.control(1, in(dfu::GETSTATE, 1, 0, 1), state, moved), TransferStatus::ack);
    EXPECT_EQ(moved, 1u);
    EXPECT_EQ(state[0], dfu::APP_DETACH);
    EXPECT_EQ(bridge.control(2, out(dfu::DETACH, 1000, 0, 1), none, moved), TransferStatus::stall);
}

TEST(SimDfuMode, DetachReturnsToTheRunTimeConfiguration) {
    auto firmware = std::make_shared<sim::DfuFirmware>();
    sim::Bridge bridge({}, firmware);
    sim::start_in_dfu_mode(bridge, firmware, 0);
    ASSERT_TRUE(bridge.present(0));
    auto descriptor = bridge.device_descriptor();
    EXPECT_EQ(descriptor[10] | (descriptor[11] << 8), 0x0004);
    std::vector<std::uint8_t> none;
    std::size_t moved = 0;
    EXPECT_EQ(bridge.control(10, out(dfu::DETACH, 1000), none, moved), TransferStatus::ack);
    EXPECT_FALSE(bridge.present(100));
    ASSERT_TRUE(bridge.present(10 + firmware->config().detach_back_ms));
    descriptor = bridge.device_descriptor();
    EXPECT_EQ(descriptor[10] | (descriptor[11] << 8), sim::BRIDGE_PRODUCT_ID);
    EXPECT_EQ(firmware->record().dfu_detaches, 1u);
}

}  // namespace

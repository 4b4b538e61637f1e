#include <gtest/gtest.h>

#include "outcome_codes.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "native/cmd.h"
#include "sim/bridge.h"
#include "sim/knobs.h"
#include "sim/native_bulk_function.h"
#include "sim_dfu_file.h"
#include "sim_fixture.h"
#include "usb/usb_device.h"

namespace {

using sim_test::SimBus;
using sim_test::make_dfu_file;

struct Channel {
    cmd_channel_ptr channel;
    explicit Channel(SimBus& bus, std::uint16_t product_id = sim::TOUCH_PRODUCT_ID)
        : channel(cmd_channel_open(bus.platform, DEVICE_VENDOR_ID, product_id, std::nullopt)) {}
    cmd_channel& operator*() { return *channel; }
};

struct IdentifyCase {
    std::string name;
    std::uint32_t magic;
    std::uint8_t status;
    int result;
    int reported_status;
    std::string text;
};

class TouchIdentify : public testing::TestWithParam<IdentifyCase> {};

TEST_P(TouchIdentify, ReplyAsTheHostReadsIt) {
    const auto& c = GetParam();
    SimBus bus;
    sim::TouchConfig config;
    config.native.identify_magic = c.magic;
    config.native.identify_status = c.status;
    config.native.identify_text = "TC 2.1 build 7";
    bus.attach_touch(config);
    Channel channel(bus);
    ASSERT_NE(channel.channel, nullptr);
    int status = -99;
    std::array<char, CMD_TEXT_SIZE> text{};
    EXPECT_EQ(result_code(cmd_identify(*channel, status, text)), c.result);
    if (c.result != -1) {
        EXPECT_EQ(status, c.reported_status);
    }
    EXPECT_EQ(std::string(text.data()), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Knobs, TouchIdentify,
    testing::Values(IdentifyCase{"good", sim::NATIVE_IDENTIFY_MAGIC, 0, 0, 0, "TC 2.1 build 7"},
                    IdentifyCase{"device_status", sim::NATIVE_IDENTIFY_MAGIC, 3, -2, 3, ""},
                    IdentifyCase{"wrong_magic", 0x12345678, 0, -1, 0, ""},
                    IdentifyCase{"wrong_magic_and_status", 0x5A3C96E0, 3, -1, 0, ""}),
    [](const auto& info) { return info.param.name; });

TEST(TouchPrepare, ReadyAfterTheConfiguredPolls) {
    for (const unsigned not_ready : {0u, 2u, 5u}) {
        SimBus bus;
        sim::TouchConfig config;
        config.native.prepare_not_ready_polls = not_ready;
        auto touch = bus.attach_touch(config);
        Channel channel(bus);
        ASSERT_EQ(result_code(cmd_prepare(*channel)), 0) << not_ready;
        EXPECT_EQ(touch->native().record().gets, not_ready + 1) << not_ready;
        EXPECT_EQ(bus.clock.now(), (not_ready + 1) * 100u) << not_ready;
    }
}

struct FlashCase {
    std::string name;
    std::vector<std::uint8_t> image;
    std::optional<std::int8_t> forced_status;
    std::optional<std::string> forced_text;
    int status;
    std::string text;
    bool stored;
};

class TouchUpgrade : public testing::TestWithParam<FlashCase> {};

TEST_P(TouchUpgrade, FirmwareStorageJudgesWhatItReceived) {
    const auto& c = GetParam();
    SimBus bus;
    sim::TouchConfig config;
    config.native.flash_busy_ms = 2000;
    config.native.flash_status = c.forced_status;
    config.native.flash_text = c.forced_text;
    auto touch = bus.attach_touch(config);
    Channel channel(bus);
    std::array<char, CMD_TEXT_SIZE> text{};
    int status = 99;
    ASSERT_EQ(result_code(cmd_upgrade(*channel, c.image, text, status)), 0);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(std::string(text.data()), c.text);
    EXPECT_EQ(touch->native().record().flashed.has_value(), c.stored);
    if (c.stored) {
        EXPECT_EQ(*touch->native().record().flashed, c.image);
    }
    EXPECT_GE(bus.clock.now(), 2000u);  // the flash took its device time
    EXPECT_TRUE(touch->native().record().refusals.empty());
}

std::vector<std::uint8_t> not_a_dfu_file() { return std::vector<std::uint8_t>(600, 0x55); }

INSTANTIATE_TEST_SUITE_P(
    Verdicts, TouchUpgrade,
    testing::Values(FlashCase{"valid", make_dfu_file(3000), std::nullopt, std::nullopt, 0, "OK", true},
                    FlashCase{"bad_crc", make_dfu_file(3000, false), std::nullopt, std::nullopt,
                              sim::FLASH_STATUS_CRC, "Image CRC mismatch", false},
                    FlashCase{"not_dfu", not_a_dfu_file(), std::nullopt, std::nullopt, sim::FLASH_STATUS_NOT_DFU,
                              "Image is not a DFU file", false},
                    FlashCase{"too_short", std::vector<std::uint8_t>(5, 1), std::nullopt, std::nullopt,
                              sim::FLASH_STATUS_NOT_DFU, "Image too short for a DFU suffix", false},
                    FlashCase{"forced", make_dfu_file(100), std::int8_t{-1}, std::string("Flash write error"), -1,
                              "Flash write error", true}),
    [](const auto& info) { return info.param.name; });

TEST(TouchImageData, ChunksRecordedWithOffsets) {
    SimBus bus;
    auto touch = bus.attach_touch();
    Channel channel(bus);
    const auto image = make_dfu_file(1000 - 16);
    ASSERT_EQ(result_code(cmd_prepare(*channel)), 0);
    ASSERT_EQ(result_code(cmd_send_image(*channel, image)), 0);
    const auto& chunks = touch->native().record().chunks;
    ASSERT_EQ(chunks.size(), 5u);
    const std::uint32_t offsets[] = {0, 248, 496, 744, 992};
    const std::uint32_t lengths[] = {248, 248, 248, 248, 8};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(chunks[i].offset, offsets[i]) << i;
        EXPECT_EQ(chunks[i].length, lengths[i]) << i;
    }
    EXPECT_EQ(touch->native().record().image, image);
}

TEST(TouchImageData, WrongChunkCountFailsTheTransfer) {
    SimBus bus;
    sim::TouchConfig config;
    config.native.chunk_count_delta = -1;
    bus.attach_touch(config);
    Channel channel(bus);
    ASSERT_EQ(result_code(cmd_prepare(*channel)), 0);
    EXPECT_EQ(result_code(cmd_send_image(*channel, make_dfu_file(600))), -1);
}

TEST(TouchReadInfo, TextArrivesWholeInPiecesOfAnySize) {
    std::string text;
    for (int i = 0; i < 30; ++i) text += "line " + std::to_string(i) + "\n";
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{128}, std::size_t{5000}}) {
        SimBus bus;
        sim::TouchConfig config;
        config.native.info_text = text;
        config.native.info_piece = piece;
        bus.attach_touch(config);
        Channel channel(bus);
        std::vector<char> out(CMD_INFO_TEXT_SIZE, 'x');
        ASSERT_EQ(result_code(cmd_read_info(*channel, std::span<char, CMD_INFO_TEXT_SIZE>(out.data(), CMD_INFO_TEXT_SIZE))), 0)
            << piece;
        EXPECT_EQ(std::string(out.data()), text) << piece;
    }
}

TEST(TouchReadInfo, EmptyText) {
    SimBus bus;
    sim::TouchConfig config;
    config.native.info_text = "";
    bus.attach_touch(config);
    Channel channel(bus);
    std::vector<char> out(CMD_INFO_TEXT_SIZE, 'x');
    ASSERT_EQ(result_code(cmd_read_info(*channel, std::span<char, CMD_INFO_TEXT_SIZE>(out.data(), CMD_INFO_TEXT_SIZE))), 0);
    EXPECT_EQ(out[0], '\0');
}

// Requests illegal in the device's state are refused and recorded.
struct StrictCase {
    std::string name;
    std::vector<std::pair<bool, std::uint8_t>> steps;  // (is_set, command) ; gets ignore the command
    std::vector<bool> accepted;
    std::string last_refusal;
};

class TouchStrict : public testing::TestWithParam<StrictCase> {};

TEST_P(TouchStrict, RefusesIllegalRequests) {
    const auto& c = GetParam();
    sim::NativeDevice device;
    const std::array<std::uint8_t, 8> payload{};
    std::uint64_t now = 0;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const auto [is_set, command] = c.steps[i];
        sim::NativeReply reply;
        const bool ok = is_set ? device.set(now, command, payload) : device.get(now, reply);
        EXPECT_EQ(ok, c.accepted[i]) << "step " << i;
        now += 10;
    }
    ASSERT_FALSE(device.record().refusals.empty());
    EXPECT_EQ(device.record().refusals.back(), c.last_refusal);
}

constexpr bool SET = true;
constexpr bool GET = false;

INSTANTIATE_TEST_SUITE_P(
    States, TouchStrict,
    testing::Values(
        StrictCase{"get_before_any_set", {{GET, 0}}, {false}, "get without a reply to give"},
        StrictCase{"image_before_prepare", {{SET, sim::NATIVE_IMAGE_DATA}}, {false}, "image data before prepare"},
        StrictCase{"image_before_ready", {{SET, sim::NATIVE_PREPARE}, {SET, sim::NATIVE_IMAGE_DATA}}, {true, false},
                   "image data before prepare"},
        StrictCase{"flash_before_prepare", {{SET, sim::NATIVE_FLASH}}, {false}, "flash before prepare"},
        StrictCase{"restart_before_prepare", {{SET, sim::NATIVE_RESTART}}, {false}, "restart before prepare"},
        StrictCase{"unknown_command", {{SET, 9}}, {false}, "unknown command 9"},
        StrictCase{"set_while_flashing",
                   {{SET, sim::NATIVE_PREPARE}, {GET, 0}, {SET, sim::NATIVE_FLASH}, {SET, sim::NATIVE_IDENTIFY}},
                   {true, true, true, false},
                   "set while flashing"}),
    [](const auto& info) { return info.param.name; });

TEST(TouchStrict, BusyFlashThenSecondFlashIsRefused) {
    sim::NativeDevice device;
    const std::array<std::uint8_t, 4> length{};
    sim::NativeReply reply;
    ASSERT_TRUE(device.set(0, sim::NATIVE_PREPARE, {}));
    ASSERT_TRUE(device.get(0, reply));
    ASSERT_TRUE(device.set(0, sim::NATIVE_FLASH, length));
    ASSERT_TRUE(device.get(10, reply));
    EXPECT_EQ(reply.data.at(0), 1);  // busy
    ASSERT_TRUE(device.get(1000, reply));
    EXPECT_EQ(reply.data.at(0), 0);
    EXPECT_FALSE(device.set(1000, sim::NATIVE_FLASH, length));
    EXPECT_EQ(device.record().refusals.back(), "flash before prepare");
}

TEST(TouchFaults, FailTheKthSetOrGet) {
    struct Case {
        unsigned fail_set_at, fail_get_at;
        int identify_results[3];
    };
    for (const Case& c : {Case{2, 0, {0, -1, 0}}, Case{0, 1, {-1, 0, 0}}, Case{0, 3, {0, 0, -1}}}) {
        SimBus bus;
        sim::TouchConfig config;
        config.native.fail_set_at = c.fail_set_at;
        config.native.fail_get_at = c.fail_get_at;
        bus.attach_touch(config);
        Channel channel(bus);
        for (int i = 0; i < 3; ++i) {
            int status = 0;
            std::array<char, CMD_TEXT_SIZE> text{};
            EXPECT_EQ(result_code(cmd_identify(*channel, status, text)), c.identify_results[i]) << i;
        }
    }
}

TEST(TouchRestart, LeavesAndComesBackAsANewConnection) {
    struct Case {
        std::optional<std::uint64_t> back_ms;
        std::uint64_t check_at;
        bool present;
    };
    for (const Case& c : {Case{1500, 1400, false}, Case{1500, 1600, true}, Case{std::nullopt, 3'600'000, false}}) {
        SimBus bus;
        sim::TouchConfig config;
        config.restart_back_ms = c.back_ms;
        auto touch = bus.attach_touch(config);
        Channel channel(bus);
        ASSERT_EQ(result_code(cmd_restart(*channel)), 0);
        EXPECT_TRUE(usb_list_devices(bus.platform).empty());
        bus.platform.sleep_ms(static_cast<std::uint32_t>(c.check_at));
        EXPECT_EQ(!usb_list_devices(bus.platform).empty(), c.present) << c.check_at;
        EXPECT_EQ(touch->connection(), c.present ? 2u : 1u);
        EXPECT_EQ(touch->native().record().restarts, 1u);
        if (c.present) {
            Channel again(bus);
            int status = 0;
            std::array<char, CMD_TEXT_SIZE> text{};
            EXPECT_EQ(result_code(cmd_identify(*again, status, text)), 0);
        }
    }
}

std::shared_ptr<sim::Bridge> bridge() {
    return std::make_shared<sim::Bridge>(sim::BridgeConfig{}, std::make_shared<sim::DfuFirmware>());
}

TEST(BulkCarriage, UpgradeOverKxpsKxpgPackets) {
    SimBus bus;
    auto device_model = bridge();
    bus.platform.attach(device_model);
    auto* native = &device_model->native();
    Channel channel(bus, sim::BRIDGE_PRODUCT_ID);
    ASSERT_NE(channel.channel, nullptr);
    ASSERT_EQ(channel.channel->carriage, CARRIAGE_BULK);
    int status = -1;
    std::array<char, CMD_TEXT_SIZE> text{};
    ASSERT_EQ(result_code(cmd_identify(*channel, status, text)), 0);
    EXPECT_EQ(std::string(text.data()), "TC firmware 1.0.0");
    const auto image = make_dfu_file(700);
    ASSERT_EQ(result_code(cmd_upgrade(*channel, image, text, status)), 0);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(native->record().chunks.size(), 3u);
    EXPECT_EQ(native->record().chunks[1].offset, 248u);
    EXPECT_TRUE(native->record().refusals.empty());
}

TEST(BulkCarriage, MalformedPacketsAreRefused) {
    SimBus bus;
    auto device_model = bridge();
    bus.platform.attach(device_model);
    auto* native = &device_model->native();
    auto device = usb_device_open(bus.platform, DEVICE_VENDOR_ID, sim::BRIDGE_PRODUCT_ID, 0, std::nullopt);
    ASSERT_NE(device, nullptr);
    const auto handle = device->handle.get();
    struct Case {
        std::vector<std::uint8_t> packet;
        std::string refusal;
    };
    std::vector<std::uint8_t> long_length(260, 0);
    std::copy_n("KXPS", 4, long_length.begin());
    long_length[5] = 0xFF;  // payload length 255 > 253
    for (const Case& c : {Case{{'K', 'X', 'P', 'S'}, "malformed bulk packet"},
                          Case{{'K', 'X', 'P', 'G', 0}, "malformed bulk packet"},
                          Case{long_length, "set payload length beyond the packet"},
                          Case{{'K', 'X', 'P', 'G'}, "get without a reply to give"}}) {
        std::size_t moved = 0;
        EXPECT_EQ(bus.platform.usb_write_pipe(handle, sim::BULK_OUT_ENDPOINT, c.packet, moved),
                  platform::UsbError::general_failure);
        EXPECT_EQ(native->record().refusals.back(), c.refusal);
    }
    std::array<std::uint8_t, 260> reply{};
    std::size_t moved = 0;
    EXPECT_EQ(bus.platform.usb_read_pipe(handle, sim::BULK_IN_ENDPOINT, reply, moved),
              platform::UsbError::general_failure);
    EXPECT_EQ(native->record().refusals.back(), "bulk read without a get request");
}

class RecordingPeer : public sim::LinkPeer {
public:
    std::vector<std::vector<std::uint8_t>> frames;
    bool receive_frame(std::uint64_t, std::span<const std::uint8_t> frame) override {
        frames.emplace_back(frame.begin(), frame.end());
        return true;
    }
    bool next_report(std::uint64_t, std::span<std::uint8_t> body) override {
        body[0] = sim::LINK_MARKER;
        body[1] = 0xAB;
        body[255] = 0xCD;
        return true;
    }
};

TEST(LinkPlugIn, FramesGoToThePeerAndNativeTrafficStillWorks) {
    SimBus bus;
    auto peer = std::make_shared<RecordingPeer>();
    auto touch = bus.attach_touch({}, {nullptr, peer, nullptr});
    auto device = usbhid_device_open(bus.platform, DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    ASSERT_NE(device, nullptr);
    std::vector<std::uint8_t> report(257, 0);
    report[0] = 0xFF;
    report[1] = sim::LINK_MARKER;
    report[2] = 0x11;
    report[256] = 0x22;
    ASSERT_EQ(usbhid_device_set_feature(device.get(), report), 257);
    ASSERT_EQ(peer->frames.size(), 1u);
    EXPECT_EQ(peer->frames[0].size(), sim::LINK_FRAME_SIZE);
    EXPECT_EQ(peer->frames[0].front(), 0x11);
    EXPECT_EQ(peer->frames[0].back(), 0x22);

    std::fill(report.begin(), report.end(), 0);
    report[0] = 0xFF;
    ASSERT_EQ(usbhid_device_get_feature(device.get(), report), 257);
    EXPECT_EQ(report[1], sim::LINK_MARKER);
    EXPECT_EQ(report[2], 0xAB);
    EXPECT_EQ(report[256], 0xCD);
    EXPECT_TRUE(touch->native().record().commands.empty());

    // A native command after link traffic is answered natively again.
    std::fill(report.begin(), report.end(), 0);
    report[0] = 0xFF;
    report[1] = sim::NATIVE_IDENTIFY;
    ASSERT_EQ(usbhid_device_set_feature(device.get(), report), 257);
    ASSERT_EQ(usbhid_device_get_feature(device.get(), report), 257);
    EXPECT_EQ(report[1], sim::NATIVE_IDENTIFY);
}

TEST(LinkPlugIn, WithoutAPeerLinkFramesStall) {
    SimBus bus;
    auto touch = bus.attach_touch();
    auto device = usbhid_device_open(bus.platform, DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    ASSERT_NE(device, nullptr);
    std::vector<std::uint8_t> report(257, 0);
    report[0] = 0xFF;
    report[1] = sim::LINK_MARKER;
    EXPECT_EQ(usbhid_device_set_feature(device.get(), report), -1);
    EXPECT_EQ(touch->native().record().refusals.back(), "link frame without a link peer");
}

}  // namespace

namespace {

// Knobs that make the device send replies a host must not trust; the raw
// report shows what the device sent, the host's result how it coped.
struct MisbehaviourCase {
    std::string name;
    std::string knob;
    std::uint8_t command;
    std::function<void(const std::vector<std::uint8_t>&)> check_report;
};

class TouchMisbehaviour : public testing::TestWithParam<MisbehaviourCase> {};

TEST_P(TouchMisbehaviour, ReportBytes) {
    const auto& c = GetParam();
    sim::SimConfig sim_config;
    std::string error;
    ASSERT_TRUE(sim::knob_assign(sim_config, c.knob, error)) << error;
    sim_config.touch.native.info_text = "abc";
    SimBus bus;
    bus.attach_touch(sim_config.touch);
    auto device = usbhid_device_open(bus.platform, DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    ASSERT_NE(device, nullptr);
    std::vector<std::uint8_t> report(257, 0);
    report[0] = 0xFF;
    report[1] = c.command;
    ASSERT_EQ(usbhid_device_set_feature(device.get(), report), 257);
    std::fill(report.begin(), report.end(), 0);
    report[0] = 0xFF;
    ASSERT_EQ(usbhid_device_get_feature(device.get(), report), 257);
    c.check_report(report);
}

INSTANTIATE_TEST_SUITE_P(
    Knobs, TouchMisbehaviour,
    testing::Values(
        MisbehaviourCase{"claimed_length", "native.reply_length=300", sim::NATIVE_IDENTIFY,
                         [](const std::vector<std::uint8_t>& r) {
                             EXPECT_EQ(r[3] | (r[4] << 8), 300);
                             EXPECT_EQ(r[10], 'T');  // the text is still the real one
                         }},
        MisbehaviourCase{"other_command", "native.reply_command=7", sim::NATIVE_IDENTIFY,
                         [](const std::vector<std::uint8_t>& r) { EXPECT_EQ(r[1], 7); }},
        MisbehaviourCase{"unterminated", "native.identify_unterminated=1", sim::NATIVE_IDENTIFY,
                         [](const std::vector<std::uint8_t>& r) {
                             const std::size_t length = r[3] | (r[4] << 8);
                             EXPECT_EQ(length, sim::NATIVE_MAX_REPLY);
                             for (std::size_t i = 10; i < 5 + length; ++i) ASSERT_NE(r[i], 0) << i;
                         }},
        MisbehaviourCase{"claimed_total", "native.info_total=500", sim::NATIVE_READ_INFO,
                         [](const std::vector<std::uint8_t>& r) {
                             EXPECT_EQ(r[5] | (r[6] << 8), 500);
                             EXPECT_EQ(r[3] | (r[4] << 8), 8 + 3);
                         }}),
    [](const auto& info) { return info.param.name; });

// The host stays within its buffers and ends its loops whatever the device claims.
TEST(TouchMisbehaviour, HostCopes) {
    struct Case {
        std::string knob;
        int identify;  // cmd_identify result
        int read_info; // cmd_read_info result
    };
    for (const Case& c : {Case{"native.reply_command=7", -1, -1}, Case{"native.identify_unterminated=1", 0, 0},
                          Case{"native.info_total=500", 0, -1}}) {
        sim::SimConfig sim_config;
        std::string error;
        ASSERT_TRUE(sim::knob_assign(sim_config, c.knob, error)) << error;
        sim_config.touch.native.info_text = "abc";
        SimBus bus;
        bus.attach_touch(sim_config.touch);
        Channel channel(bus);
        int status = 0;
        std::array<char, CMD_TEXT_SIZE> text{};
        text.fill('x');
        EXPECT_EQ(result_code(cmd_identify(*channel, status, text)), c.identify) << c.knob;
        EXPECT_NE(std::find(text.begin(), text.end(), '\0'), text.end()) << c.knob;
        std::vector<char> info(CMD_INFO_TEXT_SIZE, 'x');
        EXPECT_EQ(result_code(cmd_read_info(*channel, std::span<char, CMD_INFO_TEXT_SIZE>(info.data(), CMD_INFO_TEXT_SIZE))),
                  c.read_info)
            << c.knob;
    }
}

}  // namespace

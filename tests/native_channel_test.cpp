#include <algorithm>

#include "native/cmd.h"
#include "native/cmd_channel.h"
#include "native_sim_fixture.h"
#include "outcome_codes.h"
#include "usb/le.h"

namespace {

class NativeChannel : public SimBusTest {};

TEST_F(NativeChannel, HidSetReportLayoutIsIdCommandLengthPayloadThenZeros) {
    attach_device(0x0042, {std::make_shared<ScriptedHidFunction>(257)});
    cmd_channel_ptr channel = cmd_channel_open(os, DEVICE_VENDOR_ID, 0x0042, std::nullopt);
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->carriage, CARRIAGE_HID);
    EXPECT_EQ(cmd_channel_capacity(*channel), 256);

    const std::uint8_t payload[] = {0xAA, 0xBB, 0xCC};
    ASSERT_EQ(cmd_channel_set(*channel, CMD_FLASH, payload), 3);
    ASSERT_EQ(cmd_channel_set(*channel, CMD_IDENTIFY, {}), 0);
    ASSERT_EQ(os.set_reports.size(), 2u);
    const auto& with_payload = os.set_reports[0];
    ASSERT_EQ(with_payload.size(), 257u);
    EXPECT_EQ(std::vector<std::uint8_t>(with_payload.begin(), with_payload.begin() + 7),
              (std::vector<std::uint8_t>{0xFF, CMD_FLASH, 3, 0, 0xAA, 0xBB, 0xCC}));
    EXPECT_TRUE(std::all_of(with_payload.begin() + 7, with_payload.end(), [](auto b) { return b == 0; }));
    const auto& empty = os.set_reports[1];
    EXPECT_EQ(empty[1], CMD_IDENTIFY);
    EXPECT_TRUE(std::all_of(empty.begin() + 2, empty.end(), [](auto b) { return b == 0; }));
}

TEST_F(NativeChannel, HidLimitsFollowTheFeatureReportLength) {
    auto scripted = std::make_shared<ScriptedHidFunction>(64);
    attach_device(0x0042, {scripted});
    cmd_channel_ptr channel = cmd_channel_open(os, DEVICE_VENDOR_ID, 0x0042, std::nullopt);
    ASSERT_TRUE(channel);
    std::vector<std::uint8_t> payload(61, 0x55);
    EXPECT_EQ(cmd_channel_set(*channel, 7, std::span(payload).first(60)), 60);
    EXPECT_EQ(cmd_channel_set(*channel, 7, payload), -1);
    EXPECT_EQ(os.set_reports.size(), 1u) << "a refused set must not reach the device";

    // A reply of 59 bytes is the largest that reaches the destination; a
    // longer one is reported by its length and copied nowhere.
    std::vector<std::uint8_t> fits(64, 0x11), too_long(64, 0x22);
    fits[0] = too_long[0] = 0xFF;
    fits[1] = too_long[1] = 7;
    fits[2] = too_long[2] = 0;
    put_le16(fits, 3, 59);
    put_le16(too_long, 3, 60);
    scripted->replies = {fits, too_long};
    std::vector<std::uint8_t> destination(256, 0xEE);
    EXPECT_EQ(cmd_channel_get(*channel, 7, destination), 59);
    EXPECT_EQ(destination[58], 0x11);
    EXPECT_EQ(destination[59], 0xEE);
    std::fill(destination.begin(), destination.end(), 0xEE);
    EXPECT_EQ(cmd_channel_get(*channel, 7, destination), 60);
    EXPECT_TRUE(std::all_of(destination.begin(), destination.end(), [](auto b) { return b == 0xEE; }));
}

struct ReplyCase {
    const char* what;
    std::uint8_t command;
    std::uint8_t status;
    int expected;
};

class NativeChannelReply : public NativeChannel, public testing::WithParamInterface<ReplyCase> {};

TEST_P(NativeChannelReply, AcceptsOnlyTheExpectedIdWithZeroStatus) {
    const ReplyCase& c = GetParam();
    auto scripted = std::make_shared<ScriptedHidFunction>(257);
    attach_device(0x0042, {scripted});
    cmd_channel_ptr channel = cmd_channel_open(os, DEVICE_VENDOR_ID, 0x0042, std::nullopt);
    ASSERT_TRUE(channel);
    std::vector<std::uint8_t> reply(257, 0);
    reply[0] = 0xFF;
    reply[1] = c.command;
    reply[2] = c.status;
    put_le16(reply, 3, 2);
    scripted->replies = {reply};
    std::array<std::uint8_t, 256> destination{};
    EXPECT_EQ(cmd_channel_get(*channel, CMD_PREPARE, destination), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Replies, NativeChannelReply,
                         testing::Values(ReplyCase{"matching", CMD_PREPARE, 0, 2},
                                         ReplyCase{"other command id", CMD_FLASH, 0, -1},
                                         ReplyCase{"non-zero status", CMD_PREPARE, 1, -1}));

TEST_F(NativeChannel, RefusesReportsTheCommandSetCannotUse) {
    // Longer than 257 bytes overflows the command set's buffers; 9 bytes
    // leaves no room for image data in a chunk.
    for (std::size_t length : {258u, 9u}) {
        auto scripted = std::make_shared<ScriptedHidFunction>(length);
        auto device = attach_device(0x0042, {scripted});
        EXPECT_FALSE(cmd_channel_open(os, DEVICE_VENDOR_ID, 0x0042, std::nullopt)) << length;
        os.detach(device);
    }
    auto scripted = std::make_shared<ScriptedHidFunction>(10);
    attach_device(0x0042, {scripted});
    EXPECT_TRUE(cmd_channel_open(os, DEVICE_VENDOR_ID, 0x0042, std::nullopt));
}

class BulkChannel : public NativeChannel {
protected:
    void SetUp() override {
        native = std::make_shared<sim::NativeDevice>();
        attach_device(BRIDGE_PRODUCT_ID, {std::make_shared<sim::NativeBulkFunction>(native)}, "B1");
    }
    std::shared_ptr<sim::NativeDevice> native;
};

TEST_F(BulkChannel, BridgeProductIdTakesTheBulkCarriage) {
    cmd_channel_ptr channel = cmd_channel_open(os, DEVICE_VENDOR_ID, BRIDGE_PRODUCT_ID, std::nullopt);
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->carriage, CARRIAGE_BULK);
    EXPECT_EQ(cmd_channel_capacity(*channel), 256);
    EXPECT_EQ(channel->bulk->in_pipe, sim::BULK_IN_ENDPOINT);
    EXPECT_EQ(channel->bulk->out_pipe, sim::BULK_OUT_ENDPOINT);
}

TEST_F(BulkChannel, SetPacketsAre260BytesAndGetRequestsFourBytes) {
    cmd_channel_ptr channel = cmd_channel_open(os, DEVICE_VENDOR_ID, BRIDGE_PRODUCT_ID, std::nullopt);
    ASSERT_TRUE(channel);
    std::vector<std::uint8_t> payload(253, 0x5A);
    EXPECT_EQ(cmd_channel_set(*channel, CMD_READ_INFO, std::span(payload).first(252)), 252);
    EXPECT_EQ(cmd_channel_set(*channel, CMD_READ_INFO, payload), -1);
    ASSERT_EQ(os.pipe_writes.size(), 1u) << "a refused set must not reach the device";
    const auto& packet = os.pipe_writes[0];
    ASSERT_EQ(packet.size(), 260u);
    EXPECT_EQ(std::vector<std::uint8_t>(packet.begin(), packet.begin() + 8),
              (std::vector<std::uint8_t>{'K', 'X', 'P', 'S', CMD_READ_INFO, 252, 0, 0x5A}));
    EXPECT_EQ(packet[258], 0x5A);
    EXPECT_EQ(packet[259], 0) << "the last byte after a 252-byte payload is padding";

    ASSERT_EQ(cmd_channel_set(*channel, CMD_IDENTIFY, {}), 0);
    int status = -1;
    std::array<char, CMD_TEXT_SIZE> text{};
    os.pipe_writes.clear();
    // Identify sets again, then gets: the get request is exactly "KXPG".
    EXPECT_EQ(result_code(cmd_identify(*channel, status, text)), 0);
    ASSERT_EQ(os.pipe_writes.size(), 2u);
    EXPECT_EQ(os.pipe_writes[1], (std::vector<std::uint8_t>{'K', 'X', 'P', 'G'}));
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(text.data(), native->config().identify_text.c_str());
}

TEST_F(BulkChannel, UpgradeGoesOutIn248ByteChunks) {
    cmd_channel_ptr channel = cmd_channel_open(os, DEVICE_VENDOR_ID, BRIDGE_PRODUCT_ID, std::nullopt);
    ASSERT_TRUE(channel);
    native->config().flash_status = 0;
    std::vector<std::uint8_t> image(1000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    std::array<char, CMD_TEXT_SIZE> text{};
    int status = -1;
    ASSERT_EQ(result_code(cmd_upgrade(*channel, image, text, status)), 0);
    EXPECT_EQ(status, 0);
    const auto& chunks = native->record().chunks;
    ASSERT_EQ(chunks.size(), 5u);
    EXPECT_EQ(chunks[4].offset, 992u);
    EXPECT_EQ(chunks[4].length, 8u);
    EXPECT_EQ(native->record().image, image);
}

}  // namespace

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "native/cmd.h"
#include "report/console_reporter.h"
#include "native_sim_fixture.h"
#include "outcome_codes.h"
#include "usb/le.h"

namespace {

// What the transfer and the flash reported: bytes sent after each piece, and
// the flash's busy answers.
std::vector<std::uint64_t> sent;
int busy = 0;
const cmd_progress record_progress{[](std::uint64_t done, std::uint64_t) { sent.push_back(done); }, [] { ++busy; }};

class NativeCommands : public SimBusTest {
protected:
    cmd_channel_ptr open(sim::TouchConfig config = {}) {
        touch = attach_touch(std::move(config));
        sent.clear();
        busy = 0;
        return cmd_channel_open(os, DEVICE_VENDOR_ID, sim::TOUCH_PRODUCT_ID, std::nullopt);
    }
    std::shared_ptr<sim::TouchController> touch;
};

std::vector<std::uint8_t> pattern(std::size_t length) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return image;
}

struct ChunkCase {
    std::size_t image_length;
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint64_t> sent;
};

class NativeChunks : public NativeCommands, public testing::WithParamInterface<ChunkCase> {};

TEST_P(NativeChunks, ImageGoesOutAtItsOffsetsWithProgressSteps) {
    const ChunkCase& c = GetParam();
    cmd_channel_ptr channel = open();
    ASSERT_TRUE(channel);
    const auto image = pattern(c.image_length);
    ASSERT_EQ(result_code(cmd_prepare(*channel)), 0);
    ASSERT_EQ(result_code(cmd_send_image(*channel, image, record_progress)), 0);
    const auto& record = touch->native().record();
    std::vector<std::uint32_t> offsets;
    for (const auto& chunk : record.chunks) offsets.push_back(chunk.offset);
    EXPECT_EQ(offsets, c.offsets);
    EXPECT_EQ(record.image, image);
    EXPECT_EQ(sent, c.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Images, NativeChunks,
    testing::Values(ChunkCase{1000, {0, 248, 496, 744, 992}, {248, 496, 744, 992, 1000}},
                    ChunkCase{496, {0, 248}, {248, 496}},  // an exact multiple sends no empty chunk
                    ChunkCase{1, {0}, {1}}));

TEST_F(NativeCommands, WrongChunkCountFailsTheTransferAfterEveryChunkWasAccepted) {
    sim::TouchConfig config;
    config.native.chunk_count_delta = 1;
    cmd_channel_ptr channel = open(config);
    ASSERT_TRUE(channel);
    ASSERT_EQ(result_code(cmd_prepare(*channel)), 0);
    EXPECT_EQ(result_code(cmd_send_image(*channel, pattern(600), record_progress)), -1);
    EXPECT_EQ(touch->native().record().chunks.size(), 3u);
    EXPECT_EQ(sent.size(), 3u);
}

TEST_F(NativeCommands, PreparePollsEvery100MsUntilReady) {
    sim::TouchConfig config;
    config.native.prepare_not_ready_polls = 2;
    cmd_channel_ptr channel = open(config);
    ASSERT_TRUE(channel);
    const unsigned gets_before = os.get_reports;
    const auto start = clock.now();
    EXPECT_EQ(result_code(cmd_prepare(*channel)), 0);
    EXPECT_EQ(os.get_reports - gets_before, 3u);
    EXPECT_EQ(clock.now() - start, 300u);
}

TEST_F(NativeCommands, PrepareGivesUpOnADeviceThatIsNeverReady) {
    sim::TouchConfig config;
    config.native.prepare_not_ready_polls = 1000000;
    cmd_channel_ptr channel = open(config);
    ASSERT_TRUE(channel);
    EXPECT_EQ(result_code(cmd_prepare(*channel)), -1);
    EXPECT_LE(clock.now(), 301'000u);
}

struct IdentifyCase {
    const char* what;
    std::uint32_t magic;
    std::uint8_t status;
    int result;
    int expected_status;
    std::string text;
};

class NativeIdentify : public NativeCommands, public testing::WithParamInterface<IdentifyCase> {};

TEST_P(NativeIdentify, ChecksMagicThenStatus) {
    const IdentifyCase& c = GetParam();
    sim::TouchConfig config;
    config.native.identify_magic = c.magic;
    config.native.identify_status = c.status;
    config.native.identify_text = "TC 2.1";
    cmd_channel_ptr channel = open(config);
    ASSERT_TRUE(channel);
    int status = -7;
    std::array<char, CMD_TEXT_SIZE> text;
    text.fill('x');
    EXPECT_EQ(result_code(cmd_identify(*channel, status, text)), c.result) << c.what;
    if (c.result != -1) {
        EXPECT_EQ(status, c.expected_status) << c.what;
    }
    EXPECT_EQ(std::string(text.data()), c.text) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Identify, NativeIdentify,
                         testing::Values(IdentifyCase{"good", IDENTIFY_MAGIC, 0, 0, 0, "TC 2.1"},
                                         IdentifyCase{"status 3", IDENTIFY_MAGIC, 3, -2, 3, ""},
                                         IdentifyCase{"wrong magic", 0x12345678, 0, -1, 0, ""},
                                         IdentifyCase{"wrong magic and status", 0x12345678, 3, -1, 0, ""}));

TEST_F(NativeCommands, FlashReportsBusyPollsThenTheSignedStatus) {
    sim::TouchConfig config;
    config.native.flash_busy_ms = 250;
    config.native.flash_status = -1;  // status byte 0xFF
    config.native.flash_text = "verify failed";
    cmd_channel_ptr channel = open(config);
    ASSERT_TRUE(channel);
    std::array<char, CMD_TEXT_SIZE> text{};
    int status = 0;
    ASSERT_EQ(result_code(cmd_upgrade(*channel, pattern(100), text, status, record_progress)), 0);
    EXPECT_EQ(status, -1);
    EXPECT_STREQ(text.data(), "verify failed");
    EXPECT_EQ(busy, 3);  // polls at 0, 100 and 200 ms of the 250 ms flash
}

TEST_F(NativeCommands, FlashOfAValidDfuFileSucceedsAndACorruptOneIsRejectedByTheDevice) {
    cmd_channel_ptr channel = open();
    ASSERT_TRUE(channel);
    std::array<char, CMD_TEXT_SIZE> text{};
    int status = 0;
    // Not a DFU file at all: the device's own check says no.
    ASSERT_EQ(result_code(cmd_upgrade(*channel, pattern(300), text, status)), 0);
    EXPECT_NE(status, 0);
    EXPECT_NE(std::string(text.data()), "");
}

struct InfoCase {
    const char* what;
    std::string text;
    std::size_t piece;
};

class NativeInfo : public NativeCommands, public testing::WithParamInterface<InfoCase> {};

TEST_P(NativeInfo, TextArrivesWholeFromItsPieces) {
    const InfoCase& c = GetParam();
    sim::TouchConfig config;
    config.native.info_text = c.text;
    config.native.info_piece = c.piece;
    cmd_channel_ptr channel = open(config);
    ASSERT_TRUE(channel);
    auto text = std::make_unique<std::array<char, CMD_INFO_TEXT_SIZE>>();
    text->fill('x');
    ASSERT_EQ(result_code(cmd_read_info(*channel, *text)), 0) << c.what;
    EXPECT_EQ(std::string(text->data()), c.text) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Info, NativeInfo,
                         testing::Values(InfoCase{"empty", "", 100},
                                         InfoCase{"one piece", "Firmware 1.0\n", 100},
                                         InfoCase{"many pieces", std::string(5000, 'a') + "end\n", 100},
                                         InfoCase{"largest text", std::string(65535, 'b'), 200}));

TEST_F(NativeCommands, InformationTextPassingTheBufferFails) {
    sim::TouchConfig config;
    config.native.info_text = std::string(65536, 'c');
    config.native.info_piece = 200;
    cmd_channel_ptr channel = open(config);
    ASSERT_TRUE(channel);
    auto text = std::make_unique<std::array<char, CMD_INFO_TEXT_SIZE>>();
    EXPECT_EQ(result_code(cmd_read_info(*channel, *text)), -1);
}

// Replies the touch controller never sends, from a scripted device.
class NativeHostileReplies : public SimBusTest {
protected:
    void SetUp() override {
        scripted = std::make_shared<ScriptedHidFunction>(257);
        attach_device(0x0042, {scripted});
        channel = cmd_channel_open(os, DEVICE_VENDOR_ID, 0x0042, std::nullopt);
        ASSERT_TRUE(channel);
    }
    void reply(std::uint8_t command, std::vector<std::uint8_t> data, std::optional<std::uint16_t> length = {}) {
        std::vector<std::uint8_t> report(257, 0);
        report[0] = 0xFF;
        report[1] = command;
        put_le16(report, 3, length.value_or(static_cast<std::uint16_t>(data.size())));
        std::copy(data.begin(), data.end(), report.begin() + 5);
        scripted->replies.push_back(report);
    }
    std::shared_ptr<ScriptedHidFunction> scripted;
    cmd_channel_ptr channel;
};

TEST_F(NativeHostileReplies, IdentifyTextWithoutNulIsCutAtTheBuffer) {
    std::vector<std::uint8_t> data = {0xE1, 0x96, 0x3C, 0x5A, 0};
    data.resize(252, 'T');
    reply(CMD_IDENTIFY, data);
    int status = -1;
    std::array<char, CMD_TEXT_SIZE> text;
    text.fill('x');
    ASSERT_EQ(result_code(cmd_identify(*channel, status, text)), 0);
    EXPECT_EQ(std::string(text.data()), std::string(247, 'T'));
}

TEST_F(NativeHostileReplies, ReadInfoPieceBeyondTheBufferFails) {
    std::vector<std::uint8_t> data(8 + 100, 'i');
    put_le32(data, 0, 65535);
    put_le32(data, 4, 65500);  // 65,500 + 100 passes the 65,535-byte text
    reply(CMD_READ_INFO, data);
    auto text = std::make_unique<std::array<char, CMD_INFO_TEXT_SIZE>>();
    EXPECT_EQ(result_code(cmd_read_info(*channel, *text)), -1);
}

TEST_F(NativeHostileReplies, ReadInfoReplyLongerThanTheCarriageFails) {
    std::vector<std::uint8_t> data(16, 'i');
    put_le32(data, 0, 100);
    put_le32(data, 4, 0);
    reply(CMD_READ_INFO, data, 253);  // claims more than a 257-byte report holds
    auto text = std::make_unique<std::array<char, CMD_INFO_TEXT_SIZE>>();
    EXPECT_EQ(result_code(cmd_read_info(*channel, *text)), -1);
}

TEST_F(NativeHostileReplies, ReadInfoEndsOnADeviceThatNeverFinishes) {
    // An empty piece that is not the end makes no progress: the read gives
    // up instead of polling for ever.
    std::vector<std::uint8_t> data(8, 0);
    put_le32(data, 0, 10);
    reply(CMD_READ_INFO, data);
    reply(CMD_READ_INFO, data);
    auto text = std::make_unique<std::array<char, CMD_INFO_TEXT_SIZE>>();
    EXPECT_EQ(result_code(cmd_read_info(*channel, *text)), -1);
    EXPECT_EQ(scripted->replies.size(), 1u) << "the first empty piece ends the read";
}

TEST_F(NativeHostileReplies, FlashBusyForEverIsAbandoned) {
    for (int i = 0; i < 3001; ++i) reply(CMD_FLASH, {1, 0});
    std::array<char, CMD_TEXT_SIZE> text{};
    int status = 0;
    EXPECT_EQ(result_code(cmd_flash(*channel, 100, status, text)), -1);
    EXPECT_EQ(clock.now(), 300'000u);
}

}  // namespace

#ifndef _WIN32
// Each progress mark reaches standard output's file at once: a terminal or a
// log shows the dots while the transfer runs, not the whole line at its end.
TEST(ConsoleProgress, EachMarkIsWrittenOutAtOnce) {
    const struct {
        std::function<void(reporter&)> event;
        const char* written;
    } steps[] = {
        {[](reporter& r) { r.phase_begin(phase::transfer, {}); }, "Transfer image: "},
        {[](reporter& r) { r.progress(phase::transfer, 5, 100); }, ""},
        {[](reporter& r) { r.progress(phase::transfer, 25, 100); }, "."},
        {[](reporter& r) { r.progress(phase::transfer, 100, 100); }, ".."},
        {[](reporter& r) { r.phase_end(phase::transfer, succeeded()); }, "\n"},
        {[](reporter& r) { r.phase_begin(phase::flash, {}); }, "Flashing: "},
        {[](reporter& r) { r.poll(phase::flash); }, "."},
        {[](reporter& r) { r.phase_end(phase::flash, succeeded()); }, "\n"},
    };
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    console_reporter console("", console_streams(file, file));
    console.device({}, run_path::hid);
    off_t expected = static_cast<off_t>(std::string("flash-tool using USB HID interface\n\n").size());
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].event(console);
        struct stat written {};
        ::fstat(::fileno(file), &written);
        expected += static_cast<off_t>(std::string(steps[i].written).size());
        EXPECT_EQ(written.st_size, expected) << "after step " << i;
    }
    std::fclose(file);
}
#endif

// The upgrade over the link against a device that answers at message level:
// the requests it sends, the chunking of the image, and what it prints
// through which printer.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "kxp/kxp_codes.h"
#include "kxp/kxp_upgrade.h"
#include "report/console_reporter.h"
#include "kxp_fake_carrier.h"
#include "outcome_printer.h"

using kxp_test::bytes;

namespace {

// Answers each request at once with the status its script gives for that
// command code (0 when the script is empty), and records every request.
struct Device {
    std::vector<bytes> requests;
    std::deque<std::uint8_t> prepare, data, program;
    bool silent_after_program = false;
    bytes reply;
    bool pending = false;

    static std::uint8_t next(std::deque<std::uint8_t>& script) {
        if (script.empty()) return 0;
        const std::uint8_t status = script.front();
        if (script.size() > 1) script.pop_front();  // the last status repeats
        return status;
    }

    static int send(void* self_arg, std::span<const std::uint8_t> message) {
        auto& self = *static_cast<Device*>(self_arg);
        self.requests.emplace_back(message.begin(), message.end());
        std::uint8_t status = 0;
        switch (message[0]) {
            case KXP_CMD_PREPARE_UPGRADE: status = next(self.prepare); break;
            case KXP_CMD_IMAGE_DATA: status = next(self.data); break;
            case KXP_CMD_PROGRAM_IMAGE: status = next(self.program); break;
            default: break;
        }
        self.reply = {KXP_REPLY, status, message[0]};
        self.pending = true;
        kxp_test::fake_now += 2;
        return 0;
    }

    static int receive(void* self_arg, std::span<const std::uint8_t>& message) {
        auto& self = *static_cast<Device*>(self_arg);
        message = {};
        if (self.pending) message = self.reply;
        self.pending = false;
        return 0;
    }

    std::size_t count(std::uint8_t code) const {
        std::size_t n = 0;
        for (const auto& r : requests) n += r[0] == code;
        return n;
    }
};

// What the upgrade wrote on the console of the link path.
struct Upgrade {
    Device device;
    std::unique_ptr<kxp_session> session = std::make_unique<kxp_session>();
    console_capture captured;
    console_reporter console{"", captured.sink()};
    const std::string& printed = captured.out;
    Upgrade() {
        console.device({}, run_path::kxp);
        captured.out.clear();
        kxp_session_init(*session);
        session->send = Device::send;
        session->receive = Device::receive;
        session->idle = [](void*) { return 0; };
        session->transport = &device;
        session->max_message_size = KXP_MAX_MESSAGE;
        session->driver.now_ms = kxp_test::fake_clock;
        kxp_test::fake_now = 0;
    }
    outcome run(std::optional<std::span<const std::uint8_t>> image) { return kxp_upgrade(*session, image, console); }
};

outcome status(int byte) { return failed(failure::device_status, byte); }

const char* const SUCCESS_PREFIX = "LOG:* Initialize     [OK]\nLOG:* Transfer image [OK]\nLOG:* Program image  ";

TEST(KxpUpgrade, BuiltInSizedImageGoesOutIn424Chunks) {
    Upgrade u;
    const bytes image = kxp_test::sequence_bytes(865856);
    ASSERT_TRUE(u.run(std::span<const std::uint8_t>(image)).ok());
    const auto& requests = u.device.requests;
    ASSERT_EQ(requests.size(), 1u + 424u + 2u);
    EXPECT_EQ(requests[0], (bytes{0xE4, 0x40, 0x36, 0x0D, 0x00}));
    bytes received;
    for (std::size_t i = 1; i <= 424; ++i) {
        ASSERT_EQ(requests[i][0], KXP_CMD_IMAGE_DATA);
        EXPECT_EQ(requests[i].size(), i < 424 ? 2047u : 399u) << i;
        received.insert(received.end(), requests[i].begin() + 1, requests[i].end());
    }
    EXPECT_EQ(received, image);
    EXPECT_EQ(requests[425], bytes{KXP_CMD_PROGRAM_IMAGE});
    EXPECT_EQ(u.printed, std::string(SUCCESS_PREFIX) + "[OK]\n");
}

TEST(KxpUpgrade, ChunkCountsAtTheChunkBoundary) {
    const struct {
        std::size_t size;
        std::vector<std::size_t> chunks;
    } cases[] = {{0, {}}, {1, {1}}, {2046, {2046}}, {2047, {2046, 1}}, {4092, {2046, 2046}}};
    for (const auto& c : cases) {
        Upgrade u;
        const bytes image(c.size, 0x11);
        ASSERT_TRUE(u.run(std::span<const std::uint8_t>(image)).ok());
        std::vector<std::size_t> chunks;
        for (const auto& r : u.device.requests)
            if (r[0] == KXP_CMD_IMAGE_DATA) chunks.push_back(r.size() - 1);
        EXPECT_EQ(chunks, c.chunks) << c.size;
        EXPECT_EQ(u.device.requests.front()[0], KXP_CMD_PREPARE_UPGRADE);
        EXPECT_EQ(u.device.count(KXP_CMD_PROGRAM_IMAGE), 2u);
    }
}

TEST(KxpUpgrade, OutcomesAndWhatTheyPrint) {
    const std::string prep = "LOG:* Initialize     ";
    const std::string xfer = prep + "[OK]\nLOG:* Transfer image ";
    const struct {
        const char* name;
        std::deque<std::uint8_t> prepare, data, program;
        outcome result;
        std::string output;
        std::size_t data_requests;
    } cases[] = {
        {"prepare rejected", {3}, {}, {}, status(3),
         prep + "ERROR:[FAIL]: Failed to prepare firmware upgrade\n", 0},
        {"image data rejected", {}, {0, 0, 9}, {}, status(9), xfer + "ERROR:[FAIL 9]\n", 3},
        {"image data rejected with 5", {}, {5}, {}, status(5), xfer + "ERROR:[FAIL 5]\n", 1},
        {"first program reply busy", {}, {}, {11}, status(11), std::string(SUCCESS_PREFIX) + "ERROR:[FAIL 11]\n", 4},
        {"first program reply error", {}, {}, {4}, status(4), std::string(SUCCESS_PREFIX) + "ERROR:[FAIL 4]\n", 4},
        {"busy three times", {}, {}, {0, 11, 11, 11, 0}, succeeded(),
         std::string(SUCCESS_PREFIX) + "...[OK]\n", 4},
        {"busy then error", {}, {}, {0, 11, 12}, status(12),
         std::string(SUCCESS_PREFIX) + ".ERROR:[FAIL 12]\n", 4},
    };
    for (const auto& c : cases) {
        Upgrade u;
        u.device.prepare = c.prepare;
        u.device.data = c.data;
        u.device.program = c.program;
        EXPECT_EQ(u.run(std::span<const std::uint8_t>(bytes(4 * 2046, 0x22))), c.result) << c.name;
        EXPECT_EQ(u.printed, c.output) << c.name;
        EXPECT_EQ(u.device.count(KXP_CMD_IMAGE_DATA), c.data_requests) << c.name;
    }
}

TEST(KxpUpgrade, NoImageOnlyPrintsTheNotice) {
    Upgrade u;
    EXPECT_TRUE(u.run(std::nullopt).ok());
    EXPECT_EQ(u.printed, "ERROR:NOTICE: Not doing upgrade since no image provided\n");
    EXPECT_TRUE(u.device.requests.empty());
}

TEST(KxpUpgrade, DeviceBusyForeverEndsWithTimeOut) {
    Upgrade u;
    u.device.program = {0, 11};
    EXPECT_EQ(u.run(std::span<const std::uint8_t>(bytes(10, 1))), failed(failure::communication, KXP_TIMED_OUT));
    EXPECT_GE(kxp_test::fake_now, KXP_PROGRAM_TIMEOUT_MS);
    const std::string tail = ".ERROR:[FAIL 110]\n";
    ASSERT_GT(u.printed.size(), tail.size());
    EXPECT_EQ(u.printed.substr(u.printed.size() - tail.size()), tail);
}

}  // namespace

// The link end to end against the simulated touch controller: the device
// side's frames byte by byte, and the session, upgrade and restart over the
// simulated bus with the device's knobs.
#include <gtest/gtest.h>

#include <memory>

#include "firmware/builtin_image.h"
#include "kxp/kxp_codes.h"
#include "kxp/kxp_exchange.h"
#include "kxp/kxp_session.h"
#include "kxp/kxp_upgrade.h"
#include "report/console_reporter.h"
#include "sim/kxp_frames.h"
#include "sim/kxp_touch.h"
#include "outcome_printer.h"
#include "sim_fixture.h"
#include "usb/usb_device.h"

namespace {

using bytes = std::vector<std::uint8_t>;

bytes padded(std::initializer_list<std::uint8_t> head) {
    bytes frame(head);
    frame.resize(255, 0);
    return frame;
}

TEST(KxpSimFrames, DeviceSplitsRepliesIntoFrames) {
    EXPECT_EQ(sim::kxp_split_message(bytes{0xF1, 0x00, 0xE7, 0x00}),
              (std::vector<sim::Frame>{padded({0x04, 0xF1, 0x00, 0xE7, 0x00})}));
    bytes long_message(300, 0x5A);
    long_message[0] = 0xF1;
    const auto frames = sim::kxp_split_message(long_message);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(bytes(frames[0].begin(), frames[0].begin() + 3), (bytes{0x81, 0x2C, 0xF1}));
    bytes second(255, 0);
    second[0] = 0xC1;
    std::fill_n(second.begin() + 1, 47, 0x5A);
    EXPECT_EQ(frames[1], second);
    EXPECT_TRUE(sim::kxp_split_message(bytes{}).empty());
    EXPECT_TRUE(sim::kxp_split_message(bytes(2048, 1)).empty());
}

TEST(KxpSimFrames, DeviceReassemblyRefusesBrokenSequences) {
    using Outcome = sim::KxpReassembler::Outcome;
    const bytes first = padded({0x81, 0x00});  // 256-byte message: one continuation
    const struct {
        const char* name;
        std::vector<bytes> frames;
        Outcome last;
    } cases[] = {
        {"short message", {padded({0x01, 0xE7})}, Outcome::message},
        {"long message", {first, padded({0xC1})}, Outcome::message},
        {"continuation first", {padded({0xC1})}, Outcome::refused},
        {"wrong sequence", {first, padded({0xC2})}, Outcome::refused},
        {"first frame inside a message", {first, padded({0x01, 0xE7})}, Outcome::refused},
        {"empty message", {padded({0x00})}, Outcome::refused},
        {"short frame", {bytes(254, 0x01)}, Outcome::refused},
    };
    for (const auto& c : cases) {
        sim::KxpReassembler reassembler;
        Outcome outcome = Outcome::more;
        for (const auto& frame : c.frames) outcome = reassembler.take(frame);
        EXPECT_EQ(outcome, c.last) << c.name;
    }
}

struct Link : sim_test::SimBus {
    sim::KxpTouch device;
    std::unique_ptr<kxp_session> session = std::make_unique<kxp_session>();
    explicit Link(sim::KxpConfig config = {}, sim::TouchConfig touch = {}) {
        device = sim::make_kxp_touch(clock, std::move(touch), std::move(config));
        platform.attach(device.touch);
        kxp_session_init(*session);
    }
    ~Link() { kxp_session_close(*session); }
    int open(std::string_view address = "USB") {
        const auto devices = usb_list_devices(platform);
        return devices.empty() ? -1 : kxp_session_open(platform, *session, address, KXP_CLIENT_NAME, devices.front());
    }
    const sim::KxpRecord& seen() const { return device.link->record(); }
    std::size_t count(std::uint8_t code) const {
        std::size_t n = 0;
        for (const auto& r : seen().requests) n += r[0] == code;
        return n;
    }
};

TEST(KxpSim, OpenReadsTheDevicesInformation) {
    sim::KxpConfig config;
    config.syserror = 0x0102030405060708ull;
    Link link(config);
    ASSERT_EQ(link.open(), 0);
    const client_info* peer = nullptr;
    kxp_session_peer_info(*link.session, peer);
    EXPECT_EQ(client_info_protocol_version(*peer), (kxp_version_bytes{0x00, 0x02, 0x00, 0x01}));
    EXPECT_EQ(client_info_sw_version(*peer), (kxp_version_bytes{0x01, 0x00, 0x02, 0x05}));
    EXPECT_EQ(client_info_mfg_id(*peer), "Korvix Touch");
    char serial[20];
    client_info_serial_number(*peer, serial);
    EXPECT_STREQ(serial, "TC00000001");
    std::uint64_t value = 0;
    EXPECT_TRUE(kxp_get_syserror(*link.session, value).ok());
    EXPECT_EQ(value, 0x0102030405060708ull);

    ASSERT_EQ(link.seen().requests.size(), 2u);
    EXPECT_EQ(link.seen().requests[0].size(), 50u);
    EXPECT_EQ(kxp_session_close(*link.session), 0);
    EXPECT_EQ(link.seen().disconnects, 1u);
    EXPECT_FALSE(link.session->holder.device);
    // Closed: nothing reaches the device.
    EXPECT_EQ(kxp_restart(*link.session), failed(failure::communication, KXP_ERR_IO));
    EXPECT_EQ(link.seen().requests.size(), 3u);
    EXPECT_TRUE(link.seen().refusals.empty());
}

TEST(KxpSim, OpenOutcomes) {
    const struct {
        const char* name;
        sim::KxpConfig config;
        std::string_view address;
        int result;
        std::size_t hellos;
    } cases[] = {
        {"version 2", {}, "USB", 0, 1},
        {"address with the device's serial", {}, "USB:TC0001", 0, 1},
        {"address with another serial", {}, "USB:OTHER", KXP_ERR_LINK, 0},
        {"lower-case address", {}, "usb", KXP_ERR_LINK, 0},
        {"version 1 device", {.protocol_version = 1}, "USB", 0, 2},
        {"version 0 device", {.protocol_version = 0}, "USB", 0, 2},
        {"rejects twice", {.hello_reject_always = true}, "USB", KXP_ERR_HELLO, 2},
        {"bad payload", {.hello_bad_payload = true}, "USB", KXP_ERR_HELLO, 1},
        {"error marker", {.error_marker_at = 1}, "USB", KXP_ERR_HELLO, 1},
        {"silent", {.silent_after = 0xFFFF'FFFF}, "USB", 0, 1},
        {"noise", {.noise = 7}, "USB", 0, 1},
    };
    for (const auto& c : cases) {
        Link link(c.config);
        EXPECT_EQ(link.open(c.address), c.result) << c.name;
        EXPECT_EQ(link.count(KXP_CMD_HELLO), c.hellos) << c.name;
        EXPECT_EQ(link.session->open, c.result == 0 ? 1 : 0) << c.name;
        EXPECT_EQ(static_cast<bool>(link.session->holder.device), c.result == 0) << c.name;
    }
}

TEST(KxpSim, VersionOneDeviceGetsItsOwnLayoutTheSecondTime) {
    Link link({.protocol_version = 1});
    ASSERT_EQ(link.open(), 0);
    const bytes& second = link.seen().requests.at(1);
    ASSERT_EQ(second.size(), 50u);
    EXPECT_EQ(bytes(second.begin() + 4, second.begin() + 8), (bytes{0x00, 0x01, 0x00, 0x01}));
    EXPECT_EQ(std::string(second.begin() + 12, second.begin() + 28), "Korvix/Flashtool");
    const client_info* peer = nullptr;
    kxp_session_peer_info(*link.session, peer);
    char serial[20];
    client_info_serial_number(*peer, serial);
    EXPECT_STREQ(serial, "");
}

TEST(KxpSim, NoDeviceIsALinkFailure) {
    sim_test::SimBus bus;
    kxp_session session;
    kxp_session_init(session);
    EXPECT_EQ(kxp_session_open(bus.platform, session, "USB", KXP_CLIENT_NAME, usb_device_identity{}), KXP_ERR_LINK);
    EXPECT_EQ(session.open, 0);
}

TEST(KxpSim, SilentDeviceEndsTheCommandWithinSeconds) {
    Link link({.silent_after = 1});
    ASSERT_EQ(link.open(), 0);
    const std::uint64_t before = link.clock.now();
    std::uint64_t value = 0;
    EXPECT_EQ(kxp_get_syserror(*link.session, value), failed(failure::communication, KXP_TIMED_OUT));
    EXPECT_GE(link.clock.now() - before, KXP_REPLY_TIMEOUT_MS);
    EXPECT_LT(link.clock.now() - before, KXP_REPLY_TIMEOUT_MS + 100);
}

TEST(KxpSim, UpgradesTheBuiltInImage) {
    Link link({.noise = 2});
    ASSERT_EQ(link.open(), 0);
    const auto image = builtin_image();
    console_capture captured;
    console_reporter console("", captured.sink());
    ASSERT_TRUE(kxp_upgrade(*link.session, image, console).ok());
    ASSERT_TRUE(link.seen().programmed);
    EXPECT_EQ(*link.seen().programmed, bytes(image.begin(), image.end()));
    EXPECT_EQ(link.count(KXP_CMD_IMAGE_DATA), (image.size() + 2045) / 2046);
    EXPECT_GE(link.count(KXP_CMD_PROGRAM_IMAGE), 3u);  // accepted, busy at least once, done
    EXPECT_TRUE(link.seen().refusals.empty());
}

TEST(KxpSim, UpgradeFailuresComeBackAsTheirStatus) {
    const bytes small(5000, 0x42);  // not a DFU file: the device's check refuses it
    const struct {
        const char* name;
        sim::KxpConfig config;
        outcome result;
    } cases[] = {
        {"image check", {}, failed(failure::device_status, 3)},
        {"forced verdict", {.program_status = 0}, succeeded()},
        {"prepare refused", {.prepare_status = 3}, failed(failure::device_status, 3)},
        {"second chunk refused", {.image_data_fail_at = 2, .image_data_status = 0x0D}, failed(failure::device_status, 0x0D)},
        {"first program reply busy", {.program_first_status = 11}, failed(failure::device_status, 11)},
        {"error marker on a reply", {.error_marker_at = 5}, failed(failure::communication, KXP_ERR_BAD_REPLY)},
    };
    for (const auto& c : cases) {
        Link link(c.config);
        ASSERT_EQ(link.open(), 0) << c.name;
        console_capture captured;
        console_reporter console("", captured.sink());
        EXPECT_EQ(kxp_upgrade(*link.session, std::span<const std::uint8_t>(small), console), c.result) << c.name;
    }
}

TEST(KxpSim, RestartLeavesTheBusAndComesBack) {
    Link link;
    ASSERT_EQ(link.open(), 0);
    EXPECT_TRUE(kxp_restart(*link.session).ok());
    EXPECT_EQ(link.seen().restarts, 1u);
    EXPECT_EQ(kxp_session_close(*link.session), 0);
    EXPECT_TRUE(usb_list_devices(link.platform).empty());
    link.platform.sleep_ms(2000);
    ASSERT_EQ(usb_list_devices(link.platform).size(), 1u);
    EXPECT_EQ(usb_list_devices(link.platform).front().product_id, sim::TOUCH_PRODUCT_ID);
}

}  // namespace

namespace {

TEST(KxpSimKnobs, ParseOrRefuse) {
    const struct {
        const char* key;
        const char* value;
        bool accepted;
    } cases[] = {
        {"kxp.version", "1", true},        {"kxp.version", "3", false},
        {"kxp.syserror", "0x0102030405060708", true}, {"kxp.syserror", "0x1g", false},
        {"kxp.sw_version", "01000205", true}, {"kxp.sw_version", "0100020", false},
        {"kxp.serial", "ABCDEFGHIJ", true}, {"kxp.serial", "ABCDEFGHIJK", false},
        {"kxp.hello_bad_payload", "true", true}, {"kxp.hello_bad_payload", "maybe", false},
        {"kxp.prepare_status", "255", true}, {"kxp.prepare_status", "256", false},
        {"kxp.program_status", "0", true},  {"kxp.unknown", "1", false},
    };
    for (const auto& c : cases) {
        sim::KxpConfig config;
        EXPECT_EQ(sim::kxp_set_knob(config, c.key, c.value), c.accepted) << c.key << '=' << c.value;
    }
    sim::KxpConfig config;
    ASSERT_TRUE(sim::kxp_set_knob(config, "kxp.syserror", "0x0102030405060708"));
    EXPECT_EQ(config.syserror, 0x0102030405060708ull);
    ASSERT_TRUE(sim::kxp_set_knob(config, "kxp.sw_version", "0a0b0c0d"));
    EXPECT_EQ(config.sw_version, (std::array<std::uint8_t, 4>{0x0A, 0x0B, 0x0C, 0x0D}));
    ASSERT_TRUE(sim::kxp_set_knob(config, "kxp.program_status", "7"));
    EXPECT_EQ(config.program_status, std::optional<std::uint8_t>(7));
    for (const auto& [name, help] : sim::kxp_knob_help()) EXPECT_EQ(name.rfind("kxp.", 0), 0u) << name;
}

}  // namespace

// The command exchange over the transport and a fake carrier: the requests
// as they go out in frames, the replies the wait takes or drops, and the
// outcomes the commands give.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kxp/kxp_codes.h"
#include "kxp/kxp_exchange.h"
#include "kxp/kxp_session.h"
#include "kxp_fake_carrier.h"
#include "outcome_printer.h"

using kxp_test::bytes;
using kxp_test::FakeCarrier;

namespace {

outcome link_failure(int code) { return failed(failure::communication, code); }
outcome device_status(int status) { return failed(failure::device_status, status); }

struct Linked {
    FakeCarrier carrier;
    std::unique_ptr<kxp_session> session = std::make_unique<kxp_session>();
    Linked() {
        kxp_session_init(*session);
        kxp_test::bind(session->driver, carrier);
        kxp_transport_attach(session->driver, *session);
        session->open = 1;
    }
    void reply(const bytes& message) { carrier.queue_short(message); }
    // The message carried by sent frame `index` (a short first frame).
    bytes request(std::size_t index) const {
        const bytes& frame = carrier.sent.at(index);
        return bytes(frame.begin() + 1, frame.begin() + 1 + frame[0]);
    }
};

bytes hello_reply(std::uint8_t status, std::initializer_list<std::uint8_t> info_head,
                  std::size_t info_size) {
    bytes reply{0xF1, status, 0xE0, static_cast<std::uint8_t>(info_size)};
    reply.resize(4 + info_size, 0);
    std::size_t at = 4;
    for (std::uint8_t b : info_head) reply[at++] = b;
    return reply;
}

TEST(KxpExchange, PollTakesOnlyTheAwaitedReply) {
    const struct {
        const char* name;
        bytes message;
        std::uint8_t awaited;
        int result;
    } cases[] = {
        {"reply to prepare", {0xF1, 0x00, 0xE4}, 0xE4, 0},
        {"0xF0 marker", {0xF0, 0x07, 0xE7}, 0xE7, 0},
        {"reply to another code", {0xF1, 0x00, 0xE4}, 0xE5, KXP_AGAIN},
        {"two bytes", {0xF1, 0x00}, 0xE4, KXP_AGAIN},
        {"unsolicited $", {0x24, 0x41}, 0xE4, KXP_AGAIN},
        {"unsolicited D", {0x44}, 0xE4, KXP_AGAIN},
        {"unsolicited quote", {0x27, 0xE4}, 0xE4, KXP_AGAIN},
        {"a reply to another command", {0xF1, 0x00, 0x6B}, 0xE4, KXP_AGAIN},
        {"other first byte", {0xF2, 0x00, 0xE4}, 0xE4, KXP_AGAIN},
        {"nothing pending", {}, 0xE4, KXP_AGAIN},
    };
    for (const auto& c : cases) {
        Linked l;
        if (c.message.empty()) {
            l.carrier.incoming.push_back({});
        } else {
            l.reply(c.message);
        }
        kxp_reply_view view;
        EXPECT_EQ(kxp_poll_reply(*l.session, view, c.awaited), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(bytes(view.begin(), view.end()), c.message) << c.name;
        } else {
            EXPECT_TRUE(view.empty()) << c.name;
        }
    }
    Linked failing;
    failing.carrier.fail_receive = true;
    kxp_reply_view view;
    EXPECT_EQ(kxp_poll_reply(*failing.session, view, 0xE4), KXP_ERR_IO);
}

TEST(KxpExchange, UnsolicitedMessagesAndOtherRepliesArePassedOver) {
    Linked l;
    l.reply({0x24, 0x31});
    l.reply({0xF1, 0x00, 0x6B});
    l.reply({0x44, 0x32, 0x33});
    l.reply({0x51});
    l.reply({0xF1, 0x00, 0xE7});
    EXPECT_TRUE(kxp_restart(*l.session).ok());
}

TEST(KxpExchange, StatusCommandsSendTheirRequestAndGiveTheStatus) {
    const struct {
        const char* name;
        outcome (*run)(kxp_session&);
        bytes request;
        bytes reply;
        outcome result;
    } cases[] = {
        {"restart", kxp_restart, {0xE7}, {0xF0, 0x07, 0xE7}, device_status(7)},
        {"disconnect", kxp_disconnect, {0xE8}, {0xF1, 0x00, 0xE8}, succeeded()},
        {"program image busy", kxp_program_image, {0xE5}, {0xF1, 0x0B, 0xE5}, device_status(KXP_AGAIN)},
        {"prepare", [](kxp_session& s) { return kxp_prepare_upgrade(s, 865856); },
         {0xE4, 0x40, 0x36, 0x0D, 0x00}, {0xF1, 0x00, 0xE4}, succeeded()},
        {"prepare rejected", [](kxp_session& s) { return kxp_prepare_upgrade(s, 0x01020304); },
         {0xE4, 0x04, 0x03, 0x02, 0x01}, {0xF1, 0x03, 0xE4, 0x00}, device_status(3)},
        // Status bytes that equal the session's own codes stay the device's.
        {"restart refused with 5", kxp_restart, {0xE7}, {0xF1, 0x05, 0xE7}, device_status(5)},
        {"restart refused with 110", kxp_restart, {0xE7}, {0xF1, 0x6E, 0xE7}, device_status(110)},
    };
    for (const auto& c : cases) {
        Linked l;
        l.reply(c.reply);
        EXPECT_EQ(c.run(*l.session), c.result) << c.name;
        ASSERT_EQ(l.carrier.sent.size(), 1u) << c.name;
        EXPECT_EQ(l.request(0), c.request) << c.name;
    }
}

TEST(KxpExchange, WaitDropsOtherMessagesUntilTheReply) {
    Linked l;
    l.reply({0xF1, 0x00, 0xE4});  // answers prepare, not program image
    l.carrier.incoming.push_back({});
    l.reply({0x24, 0x00});
    l.reply({0xF1, 0x00});
    l.reply({0x27});
    l.reply({0xF1, 0x00, 0x6B});
    l.reply({0xF1, 0x00, 0xE5});
    EXPECT_TRUE(kxp_program_image(*l.session).ok());
    EXPECT_TRUE(l.carrier.incoming.empty());
    EXPECT_EQ(l.carrier.sent.size(), 1u);
}

TEST(KxpExchange, FailuresOfTheLink) {
    {
        Linked l;  // receive fails while waiting: no reply
        l.carrier.fail_receive = true;
        EXPECT_EQ(kxp_restart(*l.session), link_failure(KXP_ERR_BAD_REPLY));
    }
    {
        Linked l;  // the request cannot be sent
        l.carrier.fail_send_at = 0;
        EXPECT_EQ(kxp_program_image(*l.session), link_failure(KXP_ERR_IO));
        EXPECT_EQ(l.session->last_error, KXP_ERR_IO);
    }
    {
        kxp_session closed;  // never attached: every command fails to send
        kxp_session_init(closed);
        std::uint64_t value = 0;
        EXPECT_EQ(kxp_restart(closed), link_failure(KXP_ERR_IO));
        EXPECT_EQ(kxp_get_syserror(closed, value), link_failure(KXP_ERR_IO));
        const bytes chunk(10, 1);
        EXPECT_EQ(kxp_image_data(closed, chunk), link_failure(KXP_ERR_IO));
    }
}

TEST(KxpExchange, SilentDeviceTimesOutAfterFiveSeconds) {
    for (int retries : {0, 2}) {
        Linked l;
        l.session->retry_count = retries;
        kxp_test::fake_now = 0;
        EXPECT_EQ(kxp_restart(*l.session), link_failure(KXP_TIMED_OUT)) << retries;
        EXPECT_EQ(l.carrier.sent.size(), static_cast<std::size_t>(retries + 1));
        EXPECT_EQ(kxp_test::fake_now, 5000u * (retries + 1));
    }
    Linked late;  // a reply after a resend is taken
    late.session->retry_count = 1;
    for (int i = 0; i < 5000; ++i) late.carrier.incoming.push_back({});
    late.reply({0xF1, 0x00, 0xE7});
    EXPECT_TRUE(kxp_restart(*late.session).ok());
    EXPECT_EQ(late.carrier.sent.size(), 2u);
}

TEST(KxpExchange, SystemErrorValueAndItsReplyShape) {
    const bytes value_bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    auto reply = [&](std::uint8_t marker, std::uint8_t status, std::uint8_t p, std::size_t carried) {
        bytes r{marker, status, 0xE9, p};
        r.insert(r.end(), value_bytes.begin(), value_bytes.begin() + static_cast<long>(carried));
        return r;
    };
    const struct {
        const char* name;
        bytes reply;
        outcome result;
        std::uint64_t value;
    } cases[] = {
        {"p = 8", reply(0xF1, 0x00, 8, 8), succeeded(), 0x0807060504030201ull},
        {"status kept with value", reply(0xF1, 0x09, 8, 8), device_status(9), 0x0807060504030201ull},
        {"p = 7", reply(0xF1, 0x00, 7, 7), link_failure(KXP_ERR_BAD_REPLY), 0xAAAA},
        {"p larger than carried", reply(0xF1, 0x00, 9, 8), link_failure(KXP_ERR_BAD_REPLY), 0xAAAA},
        {"0xF0 marker", reply(0xF0, 0x00, 8, 8), link_failure(KXP_ERR_BAD_REPLY), 0xAAAA},
        {"no payload length", {0xF1, 0x00, 0xE9}, link_failure(KXP_ERR_BAD_REPLY), 0xAAAA},
    };
    for (const auto& c : cases) {
        Linked l;
        l.reply(c.reply);
        std::uint64_t value = 0xAAAA;
        EXPECT_EQ(kxp_get_syserror(*l.session, value), c.result) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
        EXPECT_EQ(l.request(0), bytes{0xE9});
    }
}

TEST(KxpExchange, ImageDataLengthLimit) {
    Linked l;
    const bytes largest(2046, 0x3C);
    l.reply({0xF1, 0x00, 0xE6});
    EXPECT_TRUE(kxp_image_data(*l.session, largest).ok());
    ASSERT_EQ(l.carrier.sent.size(), 9u);
    EXPECT_EQ(l.carrier.sent[0][0], 0x87);
    EXPECT_EQ(l.carrier.sent[0][1], 0xFF);
    EXPECT_EQ(l.carrier.sent[0][2], 0xE6);

    const bytes too_long(2047, 0x3C);
    EXPECT_EQ(kxp_image_data(*l.session, too_long), link_failure(KXP_ERR_TOO_LONG));
    EXPECT_EQ(l.session->last_error, KXP_ERR_TOO_LONG);
    EXPECT_EQ(l.carrier.sent.size(), 9u);
    EXPECT_EQ(kxp_max_chunk(*l.session), 2046u);
}

TEST(KxpExchange, HelloIsOneFiftyByteMessage) {
    Linked l;
    l.reply(hello_reply(0, {0x00, 0x02, 0x00, 0x01}, 46));
    client_info local, peer;
    client_info_init(local);
    client_info_set_mfg_id(local, KXP_CLIENT_NAME);
    ASSERT_TRUE(kxp_hello(*l.session, local, peer).ok());

    bytes expected{0x32, 0xE0, 0x2E, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02};
    expected.resize(1 + 4 + 18, 0);
    const std::string name = "Korvix/Flashtool";
    expected.insert(expected.end(), name.begin(), name.end());
    expected.resize(255, 0);
    ASSERT_EQ(l.carrier.sent.size(), 1u);
    EXPECT_EQ(l.carrier.sent[0], expected);
    EXPECT_EQ(peer.version, 2);
    EXPECT_EQ(client_info_protocol_version(peer), (kxp_version_bytes{0x00, 0x02, 0x00, 0x01}));
}

TEST(KxpExchange, HelloOutcomes) {
    const struct {
        const char* name;
        std::vector<bytes> replies;
        outcome result;
        std::size_t hellos;
        int peer_version;
        int last_error;
    } cases[] = {
        {"accepted", {hello_reply(0, {0x00, 0x02}, 46)}, succeeded(), 1, 2, 0},
        {"accepted, payload too short for information", {hello_reply(0, {0x00, 0x02, 0x00}, 3)}, succeeded(), 1, -1, 0},
        {"accepted, unsupported version", {hello_reply(0, {0x00, 0x03}, 46)}, succeeded(), 1, 3, 0},
        {"0xF0 marker", {{0xF0, 0x00, 0xE0, 0x00}}, link_failure(KXP_ERR_BAD_REPLY), 1, -1, KXP_ERR_BAD_REPLY},
        {"no payload length", {{0xF1, 0x00, 0xE0}}, link_failure(KXP_ERR_BAD_REPLY), 1, -1, KXP_ERR_BAD_REPLY},
        {"payload shorter than stated", {{0xF1, 0x00, 0xE0, 0x05, 0x00, 0x02}}, link_failure(KXP_ERR_BAD_REPLY), 1, -1, KXP_ERR_BAD_REPLY},
        {"rejected by version 3 peer", {hello_reply(4, {0x00, 0x03}, 46)}, device_status(4), 1, 3, 4},
        {"rejected without information", {hello_reply(4, {}, 0)}, device_status(4), 1, -1, 4},
        {"rejected, information too short for its version", {hello_reply(4, {0x00, 0x01}, 20)}, device_status(4), 1, -1, 4},
        {"rejected twice", {hello_reply(6, {0x00, 0x01}, 36), hello_reply(7, {0x00, 0x01}, 36)}, device_status(7), 2, 1, 7},
        {"accepted in version 1", {hello_reply(6, {0x00, 0x01}, 36), hello_reply(0, {0x00, 0x01}, 36)}, succeeded(), 2, 1, 6},
    };
    for (const auto& c : cases) {
        Linked l;
        for (const auto& r : c.replies) l.reply(r);
        client_info local, peer;
        client_info_init(local);
        client_info_set_mfg_id(local, KXP_CLIENT_NAME);
        EXPECT_EQ(kxp_hello(*l.session, local, peer), c.result) << c.name;
        EXPECT_EQ(l.carrier.sent.size(), c.hellos) << c.name;
        EXPECT_EQ(peer.version, c.peer_version) << c.name;
        EXPECT_EQ(l.session->last_error, c.last_error) << c.name;
    }
}

TEST(KxpExchange, SecondHelloCarriesThePeersLayout) {
    Linked l;
    l.reply(hello_reply(1, {0x00, 0x01, 0x00, 0x04}, 36));
    l.reply(hello_reply(0, {0x00, 0x01, 0x00, 0x04}, 36));
    client_info local, peer;
    client_info_init(local);
    client_info_set_mfg_id(local, KXP_CLIENT_NAME);
    ASSERT_TRUE(kxp_hello(*l.session, local, peer).ok());
    ASSERT_EQ(l.carrier.sent.size(), 2u);
    bytes expected{0xE0, 0x2E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0, 0, 0, 0};
    const std::string name = "Korvix/Flashtool";
    expected.insert(expected.end(), name.begin(), name.end());
    expected.resize(50, 0);
    EXPECT_EQ(l.request(1), expected);
}

}  // namespace

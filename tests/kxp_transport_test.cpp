// Frames of the link transport, checked byte by byte against hand-written
// expectations, and the reassembly of frames into messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "kxp/kxp_transport.h"
#include "kxp_fake_carrier.h"

using kxp_test::bytes;
using kxp_test::FakeCarrier;
using kxp_test::sequence_bytes;

namespace {

struct Bound {
    FakeCarrier carrier;
    std::unique_ptr<kxp_transport_driver> driver = std::make_unique<kxp_transport_driver>();
    explicit Bound(std::uint32_t frame_size = KX_FRAME_SIZE) {
        carrier.frame_size = frame_size;
        kxp_test::bind(*driver, carrier);
    }
};

// A frame of `size` bytes starting with `head` and then zero.
bytes frame_of(std::initializer_list<bytes> parts, std::size_t size = 255) {
    bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    out.resize(size, 0);
    return out;
}

bytes slice(const bytes& message, std::size_t from, std::size_t count) {
    return bytes(message.begin() + static_cast<std::ptrdiff_t>(from),
                 message.begin() + static_cast<std::ptrdiff_t>(from + count));
}

TEST(KxpTransportSend, FramesAreLaidOutByteByByte) {
    const bytes m1 = sequence_bytes(1);
    const bytes m127 = sequence_bytes(127);
    const bytes m128 = sequence_bytes(128);
    const bytes m253 = sequence_bytes(253);
    const bytes m254 = sequence_bytes(254);
    const bytes m2047 = sequence_bytes(2047);
    std::vector<bytes> frames2047{frame_of({{0x87, 0xFF}, slice(m2047, 0, 253)})};
    for (std::uint8_t seq = 1; seq <= 8; ++seq) {
        const std::size_t from = 253 + (seq - 1) * 254u;
        frames2047.push_back(frame_of({{static_cast<std::uint8_t>(0xC0 | seq)},
                                       slice(m2047, from, std::min<std::size_t>(254, 2047 - from))}));
    }
    const struct {
        bytes message;
        std::vector<bytes> frames;
    } cases[] = {
        {m1, {frame_of({{0x01}, m1})}},
        {m127, {frame_of({{0x7F}, m127})}},
        {m128, {frame_of({{0x80, 0x80}, m128})}},
        {m253, {frame_of({{0x80, 0xFD}, m253})}},
        {m254, {frame_of({{0x80, 0xFE}, slice(m254, 0, 253)}), frame_of({{0xC1}, slice(m254, 253, 1)})}},
        {m2047, frames2047},
    };
    for (const auto& c : cases) {
        Bound b;
        EXPECT_EQ(kxp_transport_send(b.driver.get(), c.message), 0) << c.message.size();
        EXPECT_EQ(b.carrier.sent, c.frames) << "message of " << c.message.size() << " bytes";
    }
    // The last frame of the largest message holds 16 message bytes.
    EXPECT_EQ(std::count(frames2047.back().begin() + 17, frames2047.back().end(), 0), 255 - 17);
}

TEST(KxpTransportSend, RefusesEmptyAndOverlongMessagesBeforeSending) {
    const bytes too_long(2048, 0x55);
    const struct {
        std::span<const std::uint8_t> message;
    } cases[] = {{std::span<const std::uint8_t>()}, {too_long}, {std::span(too_long).first(0)}};
    for (const auto& c : cases) {
        Bound b;
        EXPECT_EQ(kxp_transport_send(b.driver.get(), c.message), KXP_TRANSPORT_SEND_FAILED);
        EXPECT_TRUE(b.carrier.sent.empty());
    }
}

TEST(KxpTransportSend, CarrierFailureStopsTheMessage) {
    for (int failing : {0, 1, 5}) {
        Bound b;
        b.carrier.fail_send_at = failing;
        EXPECT_EQ(kxp_transport_send(b.driver.get(), sequence_bytes(2047)), KXP_TRANSPORT_SEND_FAILED);
        EXPECT_EQ(b.carrier.sent.size(), static_cast<std::size_t>(failing));
    }
}

TEST(KxpTransportSend, SequenceNumbersWrapFrom31ToZeroOnSmallFrames) {
    // 8-byte frames: a long first frame carries 6 bytes, continuations 7.
    Bound b(8);
    const bytes message = sequence_bytes(6 + 7 * 40);
    ASSERT_EQ(kxp_transport_send(b.driver.get(), message), 0);
    ASSERT_EQ(b.carrier.sent.size(), 41u);
    EXPECT_EQ(b.carrier.sent[0], (bytes{0x81, 0x1E, message[0], message[1], message[2], message[3],
                                        message[4], message[5]}));
    EXPECT_EQ(b.carrier.sent[31][0], 0xDF);  // sequence 31
    EXPECT_EQ(b.carrier.sent[32][0], 0xC0);  // then 0
    EXPECT_EQ(b.carrier.sent[33][0], 0xC1);
    EXPECT_EQ(b.carrier.sent[40][0], 0xC8);

    Bound back(8);
    back.carrier.incoming.assign(b.carrier.sent.begin(), b.carrier.sent.end());
    std::span<const std::uint8_t> received;
    ASSERT_EQ(kxp_transport_receive(back.driver.get(), received), 0);
    EXPECT_EQ(bytes(received.begin(), received.end()), message);
}

TEST(KxpTransportReceive, ReassemblesWhatWasSent) {
    for (std::size_t length : {1u, 2u, 127u, 128u, 253u, 254u, 507u, 508u, 2046u, 2047u}) {
        Bound out;
        const bytes message = sequence_bytes(length, static_cast<std::uint8_t>(length));
        ASSERT_EQ(kxp_transport_send(out.driver.get(), message), 0);
        Bound in;
        in.carrier.incoming.assign(out.carrier.sent.begin(), out.carrier.sent.end());
        std::span<const std::uint8_t> received;
        ASSERT_EQ(kxp_transport_receive(in.driver.get(), received), 0) << length;
        EXPECT_EQ(bytes(received.begin(), received.end()), message) << length;
        EXPECT_TRUE(in.carrier.incoming.empty());
    }
}

TEST(KxpTransportReceive, FrameSequencesAndTheirOutcome) {
    const bytes payload = sequence_bytes(300);
    const bytes first = frame_of({{0x81, 0x2C}, slice(payload, 0, 253)});
    const bytes second = frame_of({{0xC1}, slice(payload, 253, 47)});
    const struct {
        const char* name;
        std::vector<bytes> frames;
        int result;
        std::size_t length;
    } cases[] = {
        {"nothing pending", {bytes{}}, 0, 0},
        {"short frame of length 0", {frame_of({{0x00}})}, 0, 0},
        {"short frame", {frame_of({{0x03, 0xF1, 0x00, 0xE4}})}, 0, 3},
        {"long frame", {first, second}, 0, 300},
        {"continuation first", {frame_of({{0xC1}})}, KXP_TRANSPORT_RECEIVE_FAILED, 0},
        {"wrong sequence number", {first, frame_of({{0xC2}, slice(payload, 253, 47)})},
         KXP_TRANSPORT_RECEIVE_FAILED, 0},
        {"only the low five bits are compared", {first, frame_of({{0x01}, slice(payload, 253, 47)})},
         0, 300},
        {"nothing pending mid-message", {first, bytes{}}, KXP_TRANSPORT_RECEIVE_FAILED, 0},
        {"failure mid-message", {first, FakeCarrier::failure}, KXP_TRANSPORT_RECEIVE_FAILED, 0},
        {"short frame size", {bytes(254, 0x01)}, KXP_TRANSPORT_RECEIVE_FAILED, 0},
        {"carrier failure", {FakeCarrier::failure}, KXP_TRANSPORT_RECEIVE_FAILED, 0},
    };
    for (const auto& c : cases) {
        Bound b;
        b.carrier.incoming.assign(c.frames.begin(), c.frames.end());
        std::span<const std::uint8_t> message(payload.data(), 99);
        EXPECT_EQ(kxp_transport_receive(b.driver.get(), message), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(message.size(), c.length) << c.name;
            if (c.length == 300) {
                EXPECT_EQ(bytes(message.begin(), message.end()), payload) << c.name;
            }
        }
    }
}

TEST(KxpTransportReceive, AFailedReceiveStartsAfreshAtTheNextFirstFrame) {
    Bound b;
    b.carrier.incoming = {frame_of({{0x81, 0x00}}), frame_of({{0xC3}}), frame_of({{0x02, 0xAA, 0xBB}})};
    std::span<const std::uint8_t> message;
    EXPECT_EQ(kxp_transport_receive(b.driver.get(), message), KXP_TRANSPORT_RECEIVE_FAILED);
    ASSERT_EQ(kxp_transport_receive(b.driver.get(), message), 0);
    EXPECT_EQ(bytes(message.begin(), message.end()), (bytes{0xAA, 0xBB}));
}

TEST(KxpTransportReceive, ShortFirstFrameLongerThanASmallFrameContinues) {
    Bound b(8);
    const bytes message = sequence_bytes(20);
    b.carrier.incoming = {
        bytes{20, message[0], message[1], message[2], message[3], message[4], message[5], message[6]},
        frame_of({{0xC1}, slice(message, 7, 7)}, 8), frame_of({{0xC2}, slice(message, 14, 6)}, 8)};
    std::span<const std::uint8_t> received;
    ASSERT_EQ(kxp_transport_receive(b.driver.get(), received), 0);
    EXPECT_EQ(bytes(received.begin(), received.end()), message);
}

TEST(KxpTransport, InitAcceptsOnlyFrameSizesTheFormatsCanUse) {
    const struct {
        std::uint32_t size;
        int result;
    } cases[] = {{0, 1}, {2, 1}, {3, 0}, {255, 0}, {256, 1}, {4096, 1}};
    for (const auto& c : cases) {
        FakeCarrier carrier;
        carrier.frame_size = c.size;
        auto driver = std::make_unique<kxp_transport_driver>();
        driver->now_ms = kxp_test::fake_clock;
        EXPECT_EQ(kxp_transport_init(*driver, carrier.record()), c.result) << c.size;
        EXPECT_EQ(driver->kx_frame_size, c.result == 0 ? c.size : 0u);
    }
}

TEST(KxpTransport, IdleReportsTimeOutFiveSecondsAfterTheLastSend) {
    Bound b;
    kxp_test::fake_now = 1000;
    ASSERT_EQ(kxp_transport_send(b.driver.get(), bytes{0xE7}), 0);
    const struct {
        std::uint64_t now;
        int result;
    } cases[] = {{1000, 0}, {5999, 0}, {6000, 110}, {90000, 110}};
    for (const auto& c : cases) {
        kxp_test::fake_now = c.now;
        EXPECT_EQ(kxp_transport_idle(b.driver.get()), c.result) << c.now;
    }
    ASSERT_EQ(kxp_transport_send(b.driver.get(), bytes{0xE7}), 0);
    EXPECT_EQ(kxp_transport_idle(b.driver.get()), 0);
}

TEST(KxpTransport, ReleaseUnbindsTheCarrier) {
    Bound b;
    kxp_transport_release(*b.driver);
    EXPECT_EQ(b.driver->send_frame, nullptr);
    EXPECT_EQ(b.driver->receive_frame, nullptr);
    EXPECT_EQ(b.driver->device, nullptr);
    EXPECT_EQ(b.driver->kx_frame_size, 0u);
}

}  // namespace

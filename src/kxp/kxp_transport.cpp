#include "kxp/kxp_transport.h"

#include <algorithm>

#include "kxp/kxp_codes.h"
#include "kxp/kxp_session.h"

namespace {

constexpr std::uint8_t KIND_MASK = 0xC0;
constexpr std::uint8_t LONG_FIRST = 0x80;
constexpr std::uint8_t CONTINUATION = 0xC0;
constexpr std::uint8_t SEQUENCE_MASK = 0x1F;
constexpr std::size_t SHORT_LIMIT = 127;

bool send_whole_frame(kxp_transport_driver& driver) {
    return driver.send_frame(driver.device, std::span<const std::uint8_t>(
                                                 driver.frame_out_tmp_buffer.data(),
                                                 driver.kx_frame_size));
}

}  // namespace

int kxp_transport_init(kxp_transport_driver& driver, const kxp_link& carrier) {
    if (carrier.kx_frame_size < KXP_MIN_FRAME_SIZE || carrier.kx_frame_size > KXP_MAX_FRAME_SIZE || !driver.now_ms)
        return 1;
    driver.frame_out_tmp_buffer.fill(0);
    driver.send_frame = carrier.send_frame;
    driver.receive_frame = carrier.receive_frame;
    driver.kx_frame_size = carrier.kx_frame_size;
    driver.device = carrier.device;
    driver.sent_at_ms = driver.now_ms();
    return 0;
}

void kxp_transport_release(kxp_transport_driver& driver) {
    driver.send_frame = nullptr;
    driver.receive_frame = nullptr;
    driver.kx_frame_size = 0;
    driver.device = nullptr;
}

int kxp_transport_attach(kxp_transport_driver& driver, kxp_session& session) {
    session.receive = kxp_transport_receive;
    session.send = kxp_transport_send;
    session.idle = kxp_transport_idle;
    session.transport = &driver;
    session.max_message_size = KXP_MAX_MESSAGE;
    return 0;
}

int kxp_transport_send(void* driver_arg, std::span<const std::uint8_t> message) {
    auto& driver = *static_cast<kxp_transport_driver*>(driver_arg);
    const std::size_t length = message.size();
    if (length == 0 || length > KXP_MAX_MESSAGE || message.data() == nullptr)
        return KXP_TRANSPORT_SEND_FAILED;
    const std::size_t size = driver.kx_frame_size;
    auto& frame = driver.frame_out_tmp_buffer;
    driver.sent_at_ms = driver.now_ms();

    std::fill_n(frame.begin(), size, 0);
    std::size_t sent;
    if (length <= SHORT_LIMIT) {
        frame[0] = static_cast<std::uint8_t>(length);
        sent = std::min(length, size - 1);
        std::copy_n(message.begin(), sent, frame.begin() + 1);
    } else {
        frame[0] = static_cast<std::uint8_t>(LONG_FIRST | ((length >> 8) & 0x07));
        frame[1] = static_cast<std::uint8_t>(length & 0xFF);
        sent = std::min(length, size - 2);
        std::copy_n(message.begin(), sent, frame.begin() + 2);
    }
    if (!send_whole_frame(driver)) return KXP_TRANSPORT_SEND_FAILED;

    std::uint8_t sequence = 1;
    while (sent < length) {
        const std::size_t chunk = std::min(length - sent, size - 1);
        std::fill_n(frame.begin(), size, 0);
        frame[0] = static_cast<std::uint8_t>(CONTINUATION | sequence);
        std::copy_n(message.begin() + static_cast<std::ptrdiff_t>(sent), chunk, frame.begin() + 1);
        if (!send_whole_frame(driver)) return KXP_TRANSPORT_SEND_FAILED;
        sequence = static_cast<std::uint8_t>((sequence + 1) & SEQUENCE_MASK);
        sent += chunk;
    }
    return 0;
}

int kxp_transport_receive(void* driver_arg, std::span<const std::uint8_t>& message) {
    auto& driver = *static_cast<kxp_transport_driver*>(driver_arg);
    const std::size_t size = driver.kx_frame_size;
    auto& buffer = driver.message_in_buffer;

    std::span<const std::uint8_t> frame;
    if (!driver.receive_frame(driver.device, frame)) return KXP_TRANSPORT_RECEIVE_FAILED;
    if (frame.empty()) {
        message = std::span<const std::uint8_t>(buffer.data(), 0);
        return 0;
    }
    if (frame.size() != size) return KXP_TRANSPORT_RECEIVE_FAILED;

    std::size_t length;
    std::size_t received;
    if ((frame[0] & 0x80) == 0) {
        length = frame[0] & 0x7F;
        received = std::min(length, size - 1);
        std::copy_n(frame.begin() + 1, received, buffer.begin());
    } else if ((frame[0] & KIND_MASK) == LONG_FIRST) {
        length = (static_cast<std::size_t>(frame[0] & 0x07) << 8) | frame[1];
        received = std::min(length, size - 2);
        std::copy_n(frame.begin() + 2, received, buffer.begin());
    } else {
        return KXP_TRANSPORT_RECEIVE_FAILED;
    }

    std::uint8_t expected = 1;
    while (received < length) {
        if (!driver.receive_frame(driver.device, frame) || frame.size() != size)
            return KXP_TRANSPORT_RECEIVE_FAILED;
        const auto sequence = static_cast<std::uint8_t>(frame[0] & SEQUENCE_MASK);
        if (sequence != expected) return KXP_TRANSPORT_RECEIVE_FAILED;
        const std::size_t chunk = std::min(length - received, size - 1);
        std::copy_n(frame.begin() + 1, chunk, buffer.begin() + static_cast<std::ptrdiff_t>(received));
        expected = static_cast<std::uint8_t>((sequence + 1) & SEQUENCE_MASK);
        received += chunk;
    }
    message = std::span<const std::uint8_t>(buffer.data(), length);
    return 0;
}

int kxp_transport_idle(void* driver_arg) {
    const auto& driver = *static_cast<kxp_transport_driver*>(driver_arg);
    if (driver.now_ms() - driver.sent_at_ms >= KXP_REPLY_TIMEOUT_MS) return KXP_TIMED_OUT;
    return 0;
}

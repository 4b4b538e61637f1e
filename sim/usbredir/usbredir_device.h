// Serves one simulated device model to a usbredir peer (the "guest" side, as
// QEMU's usb-redir device is): the device's tables and connect packet, every
// control, bulk and interrupt request answered from the model, and the
// model's own leaving and returning to the bus as disconnect and connect.
// The model's time follows the caller's clock.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "sim/clock.h"
#include "sim/usb_model.h"

struct usbredirparser;

namespace sim {

// What the peer asked of the device, for a run's report.
struct UsbredirCounts {
    unsigned connections = 0;     // device_connect packets sent
    unsigned resets = 0;          // bus resets asked by the peer
    unsigned control_requests = 0;
    unsigned set_reports = 0;     // HID SET_REPORT
    unsigned dfu_downloads = 0;   // DFU DNLOAD
    unsigned bulk_transfers = 0;
};

struct UsbredirIo {
    // Both move bytes to or from the peer: a count, 0 when the call would
    // block, -1 when the peer is gone.
    std::function<int(std::span<std::uint8_t>)> read;
    std::function<int(std::span<const std::uint8_t>)> write;
    // Messages of the usbredir parser; may be empty.
    std::function<void(const std::string&)> log;
};

// How long a device that left the bus stays disconnected at least, so that
// the peer sees it leave before it comes back.
inline constexpr std::uint64_t USBREDIR_MIN_OFF_BUS_MS = 100;
// How long the peer may take to acknowledge a disconnect.
inline constexpr std::uint64_t USBREDIR_DISCONNECT_ACK_MS = 1000;

class UsbredirDevice {
public:
    UsbredirDevice(UsbDeviceModel& model, Clock& clock, UsbredirIo io);
    ~UsbredirDevice();
    UsbredirDevice(const UsbredirDevice&) = delete;
    UsbredirDevice& operator=(const UsbredirDevice&) = delete;

    // Brings the model's clock up to `now_ms`, reads and answers what the
    // peer sent, follows the model on and off the bus and writes what is
    // queued. False once the peer has gone.
    bool pump(std::uint64_t now_ms);
    // Whether replies wait to be written (the caller polls for writability).
    bool wants_write() const;
    bool connected() const { return connected_; }
    const UsbredirCounts& counts() const { return counts_; }

private:
    friend struct UsbredirCallbacks;

    void follow_bus();
    void connect();
    void disconnect();
    bool serving() const { return connected_ && !awaiting_ack_; }
    void count_control(const SetupPacket& setup);

    UsbDeviceModel& model_;
    Clock& clock_;
    UsbredirIo io_;
    usbredirparser* parser_ = nullptr;
    bool peer_gone_ = false;
    bool hello_ = false;
    bool connected_ = false;
    bool awaiting_ack_ = false;
    std::uint32_t connection_ = 0;
    std::optional<std::uint64_t> off_bus_since_;
    UsbredirCounts counts_;
};

}  // namespace sim

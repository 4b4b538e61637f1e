// The device side of the native command protocol, independent of the
// carriage: a set delivers a command id with its payload, a get fetches the
// reply the device holds for the last set. The HID feature report carriage
// and the bulk "KXPS"/"KXPG" carriage both drive this one logic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

inline constexpr std::uint8_t NATIVE_IDENTIFY = 0;
inline constexpr std::uint8_t NATIVE_PREPARE = 1;
inline constexpr std::uint8_t NATIVE_IMAGE_DATA = 2;
inline constexpr std::uint8_t NATIVE_FLASH = 3;
inline constexpr std::uint8_t NATIVE_RESTART = 4;
inline constexpr std::uint8_t NATIVE_READ_INFO = 5;

inline constexpr std::uint32_t NATIVE_IDENTIFY_MAGIC = 0x5A3C96E1;

// Largest reply data the device sends: fits both carriages (HID report of
// 257 bytes: 252 bytes; bulk packet: 251 bytes).
inline constexpr std::size_t NATIVE_MAX_REPLY = 240;

// Flash verdicts of the simulated firmware storage.
inline constexpr std::int8_t FLASH_STATUS_OK = 0;
inline constexpr std::int8_t FLASH_STATUS_LENGTH = 2;
inline constexpr std::int8_t FLASH_STATUS_NOT_DFU = 3;
inline constexpr std::int8_t FLASH_STATUS_CRC = 4;

// The device's behaviour; every field is a knob.
struct NativeConfig {
    std::uint32_t identify_magic = NATIVE_IDENTIFY_MAGIC;
    std::uint8_t identify_status = 0;
    std::string identify_text = "TC firmware 1.0.0";
    unsigned prepare_not_ready_polls = 0;  // prepare gets that answer "not ready"
    std::uint32_t flash_busy_ms = 1000;    // device time the flash takes
    std::optional<std::int8_t> flash_status;  // forced verdict; default: check the image
    std::optional<std::string> flash_text;    // forced status text
    int chunk_count_delta = 0;             // added to the reported chunk count
    std::string info_text = "Firmware: 1.0.0\nHardware: TC-A\n";
    std::size_t info_piece = 128;          // text bytes per read-info reply
    unsigned fail_set_at = 0;              // refuse the K-th set (1-based); 0: never
    unsigned fail_get_at = 0;              // refuse the K-th get (1-based); 0: never
    std::size_t max_image = 4 * 1024 * 1024;
    // Misbehaviour, for testing how the host copes with untrusted replies.
    bool identify_unterminated = false;          // identify text fills the reply without a NUL
    std::optional<std::uint32_t> info_total;     // read-info total claimed instead of the text's length
    std::optional<std::uint16_t> reply_length;   // length field of every reply
    std::optional<std::uint8_t> reply_command;   // command id of every reply
};

struct NativeReply {
    std::uint8_t command = 0;
    std::uint8_t status = 0;
    std::vector<std::uint8_t> data;
    // The length the reply's length field states, when a misbehaving device
    // claims more or less than it sends.
    std::optional<std::uint16_t> claimed_length;

    std::uint16_t length_field() const {
        return claimed_length ? *claimed_length : static_cast<std::uint16_t>(data.size());
    }
};

struct NativeChunk {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

// What the device saw, for tests to assert on.
struct NativeRecord {
    std::vector<std::uint8_t> commands;      // ids of every set, accepted or not, in order
    std::vector<NativeChunk> chunks;         // image chunks accepted since the last prepare
    std::vector<std::string> refusals;       // why each refused set or get was refused
    unsigned sets = 0;
    unsigned gets = 0;
    std::vector<std::uint8_t> image;         // image bytes received since the last prepare
    std::optional<std::vector<std::uint8_t>> flashed;  // last image flashed with status 0
    unsigned restarts = 0;
};

// Checks a DFU file's 16-byte DFU 1.1 suffix ("UFD" signature, bLength 16,
// CRC-32 over everything before dwCRC). Returns the flash verdict.
std::int8_t native_check_dfu_file(std::span<const std::uint8_t> file, std::string& text);

class NativeDevice {
public:
    explicit NativeDevice(NativeConfig config = {});

    // A set from the host; false when the device refuses it (the carriage
    // then stalls the transfer).
    bool set(std::uint64_t now_ms, std::uint8_t command, std::span<const std::uint8_t> payload);
    // A get from the host; false when the device holds no reply to give.
    bool get(std::uint64_t now_ms, NativeReply& reply);

    // Called when the host's restart command has been accepted.
    void on_restart(std::function<void(std::uint64_t now_ms)> handler) { restart_handler_ = std::move(handler); }

    // Records a request the device refused; returns false for the caller
    // to pass on. Carriages call it for packets they cannot parse.
    bool refuse(std::string reason);

    NativeConfig& config() { return config_; }
    const NativeRecord& record() const { return record_; }

private:
    bool flash_busy(std::uint64_t now_ms) const;
    bool take_chunk(std::span<const std::uint8_t> payload);
    std::int8_t flash_verdict(std::string& text) const;
    void identify_reply(NativeReply& reply) const;
    void flash_reply(std::uint64_t now_ms, NativeReply& reply);
    void info_reply(NativeReply& reply);

    NativeConfig config_;
    NativeRecord record_;
    std::optional<std::uint8_t> held_;  // command whose reply the device holds
    bool prepared_ = false;             // a prepare was answered "ready"
    unsigned prepare_polls_ = 0;
    std::vector<bool> written_;         // which image bytes a chunk has filled
    std::uint32_t flash_length_ = 0;
    std::uint64_t flash_done_ms_ = 0;
    std::optional<std::int8_t> flash_result_;
    std::string flash_result_text_;
    std::size_t info_offset_ = 0;
    std::function<void(std::uint64_t)> restart_handler_;
};

}  // namespace sim

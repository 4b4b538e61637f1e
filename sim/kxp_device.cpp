#include "sim/kxp_device.h"

#include <algorithm>
#include <charconv>

#include "sim/native_device.h"
#include "usb/le.h"

namespace sim {
namespace {

constexpr std::uint8_t HELLO = 0xE0;
constexpr std::uint8_t PREPARE_UPGRADE = 0xE4;
constexpr std::uint8_t PROGRAM_IMAGE = 0xE5;
constexpr std::uint8_t IMAGE_DATA = 0xE6;
constexpr std::uint8_t RESTART = 0xE7;
constexpr std::uint8_t DISCONNECT = 0xE8;
constexpr std::uint8_t GET_SYSERROR = 0xE9;
constexpr std::uint8_t REPLY = 0xF1;
constexpr std::uint8_t FRAME_FOLLOWS = 0x80;
constexpr std::uint8_t ERROR_MARK = 0xEE;
constexpr std::uint8_t NOTHING_PENDING = 0x00;

// Statuses of the simulated firmware for requests it cannot act on.
constexpr std::uint8_t STATUS_BUSY = 11;
constexpr std::uint8_t STATUS_BAD_REQUEST = 0x16;
constexpr std::uint8_t STATUS_NOT_PREPARED = 0x0E;
constexpr std::uint8_t STATUS_IMAGE_OVERRUN = 0x0F;
constexpr std::uint8_t STATUS_IMAGE_INCOMPLETE = 0x0C;
constexpr std::uint8_t STATUS_UNKNOWN_COMMAND = 0x01;

int bcd_version(std::uint8_t high, std::uint8_t low) {
    const int digits[] = {high >> 4, high & 0x0F, low >> 4, low & 0x0F};
    int code = 0;
    for (int digit : digits) {
        if (digit > 9) return -1;
        code = code * 10 + digit;
    }
    return code;
}

template <typename T>
bool parse_number(std::string_view text, T& out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return result.ec == std::errc{} && result.ptr == text.data() + text.size();
}

template <typename T>
bool parse_into(std::string_view text, T& field) {
    unsigned long long value = 0;
    if (!parse_number(text, value) || value > static_cast<unsigned long long>(static_cast<T>(~T{})))
        return false;
    field = static_cast<T>(value);
    return true;
}

bool parse_flag(std::string_view text, bool& field) {
    if (text == "1" || text == "true") field = true;
    else if (text == "0" || text == "false") field = false;
    else return false;
    return true;
}

}  // namespace

KxpDevice::KxpDevice(KxpConfig config, Clock* clock) : config_(std::move(config)), clock_(clock) {}

void KxpDevice::tick() {
    if (clock_ != nullptr) clock_->advance(1);
}

bool KxpDevice::receive_frame(std::uint64_t now_ms, std::span<const std::uint8_t> frame) {
    tick();
    switch (reassembler_.take(frame)) {
        case KxpReassembler::Outcome::more: break;
        case KxpReassembler::Outcome::refused: record_.refusals.push_back(reassembler_.why()); break;
        case KxpReassembler::Outcome::message: answer(now_ms, reassembler_.message()); break;
    }
    return true;
}

bool KxpDevice::next_report(std::uint64_t now_ms, std::span<std::uint8_t> body) {
    tick();
    ++record_.gets;
    if (record_.gets == config_.error_marker_at) {
        body[0] = ERROR_MARK;
        return true;
    }
    if (outgoing_.empty()) {
        body[0] = NOTHING_PENDING;
        return true;
    }
    body[0] = FRAME_FOLLOWS;
    std::copy(outgoing_.front().begin(), outgoing_.front().end(), body.begin() + 1);
    outgoing_.pop_front();
    // A restart takes effect once its reply has been fetched.
    if (outgoing_.empty() && restart_pending_) {
        restart_pending_ = false;
        ++record_.restarts;
        reassembler_ = {};
        programming_ = false;
        if (restart_handler_) restart_handler_(now_ms);
    }
    return true;
}

void KxpDevice::queue(std::vector<std::uint8_t> message) {
    for (auto& frame : kxp_split_message(message)) outgoing_.push_back(std::move(frame));
}

void KxpDevice::reply(std::uint8_t status, std::uint8_t command, std::span<const std::uint8_t> payload) {
    for (unsigned i = 0; i < config_.noise; ++i) {
        static const std::vector<std::uint8_t> kinds[] = {
            {'$', 'P', 'I', 'N', 'G'}, {'D', 'b', 'g'}, {'\'', 'x'},
            {REPLY, 0x00, 0xE3, 0x00}, {REPLY, 0x00, 0x6B}, {0xF0, 0x00}};
        queue(kinds[i % std::size(kinds)]);
    }
    std::vector<std::uint8_t> message{REPLY, status, command, static_cast<std::uint8_t>(payload.size())};
    message.insert(message.end(), payload.begin(), payload.end());
    queue(std::move(message));
}

std::vector<std::uint8_t> KxpDevice::client_information() const {
    const auto version = static_cast<std::uint8_t>(config_.protocol_version);
    std::vector<std::uint8_t> info(version == 2 ? 46 : 36, 0);
    info[1] = version;
    info[3] = 0x01;
    std::copy(config_.sw_version.begin(), config_.sw_version.end(), info.begin() + 4);
    std::size_t mfg_offset = 8, mfg_size = 28;
    if (version == 2) {
        std::copy_n(config_.serial.begin(), std::min<std::size_t>(config_.serial.size(), 10), info.begin() + 8);
        mfg_offset = 18;
        mfg_size = 26;
    }
    std::copy_n(config_.mfg_id.begin(), std::min(config_.mfg_id.size(), mfg_size - 1),
                info.begin() + static_cast<std::ptrdiff_t>(mfg_offset));
    return info;
}

void KxpDevice::hello(const std::vector<std::uint8_t>& request) {
    if (request.size() < 6 || request.size() != 4u + request[1]) {
        record_.refusals.push_back("malformed hello");
        reply(STATUS_BAD_REQUEST, HELLO);
        return;
    }
    std::vector<std::uint8_t> info = client_information();
    if (config_.hello_bad_payload) {
        std::vector<std::uint8_t> message{REPLY, 0x00, HELLO, static_cast<std::uint8_t>(info.size())};
        message.insert(message.end(), info.begin(), info.begin() + 10);
        queue(std::move(message));
        return;
    }
    if (config_.hello_info_length) info.resize(std::min<std::size_t>(info.size(), *config_.hello_info_length));
    const int host_version = bcd_version(request[4], request[5]);
    const bool accepted = host_version == config_.protocol_version && !config_.hello_reject_always;
    reply(accepted ? 0 : config_.hello_reject_status, HELLO, info);
}

std::uint8_t KxpDevice::program(std::uint64_t now_ms) {
    if (!programming_) {
        if (config_.program_first_status) return *config_.program_first_status;
        if (!record_.announced_size || record_.image.size() != *record_.announced_size)
            return STATUS_IMAGE_INCOMPLETE;
        programming_ = true;
        programmed_at_ms_ = now_ms;
        return 0;
    }
    if (now_ms < programmed_at_ms_ + config_.program_busy_ms) return STATUS_BUSY;
    programming_ = false;
    std::uint8_t verdict;
    if (config_.program_status) {
        verdict = *config_.program_status;
    } else {
        std::string text;
        verdict = static_cast<std::uint8_t>(native_check_dfu_file(record_.image, text));
    }
    if (verdict == 0) record_.programmed = record_.image;
    return verdict;
}

void KxpDevice::answer(std::uint64_t now_ms, const std::vector<std::uint8_t>& request) {
    record_.requests.push_back(request);
    if (config_.silent_after != 0 && record_.requests.size() > config_.silent_after) return;
    const std::uint8_t command = request[0];
    switch (command) {
        case HELLO: hello(request); return;
        case PREPARE_UPGRADE:
            if (request.size() != 5) {
                record_.refusals.push_back("malformed prepare upgrade");
                reply(STATUS_BAD_REQUEST, command);
                return;
            }
            if (config_.prepare_status == 0) {
                record_.announced_size = le32(request, 1);
                record_.image.clear();
                image_requests_ = 0;
                programming_ = false;
            }
            reply(config_.prepare_status, command);
            return;
        case IMAGE_DATA: {
            ++image_requests_;
            if (image_requests_ == config_.image_data_fail_at) {
                reply(config_.image_data_status, command);
                return;
            }
            if (!record_.announced_size) {
                record_.refusals.push_back("image data before prepare upgrade");
                reply(STATUS_NOT_PREPARED, command);
                return;
            }
            if (record_.image.size() + request.size() - 1 > *record_.announced_size) {
                record_.refusals.push_back("image data beyond the announced size");
                reply(STATUS_IMAGE_OVERRUN, command);
                return;
            }
            record_.image.insert(record_.image.end(), request.begin() + 1, request.end());
            reply(0, command);
            return;
        }
        case PROGRAM_IMAGE: reply(program(now_ms), command); return;
        case RESTART:
            reply(config_.restart_status, command);
            restart_pending_ = config_.restart_status == 0;
            return;
        case DISCONNECT:
            ++record_.disconnects;
            reply(0, command);
            return;
        case GET_SYSERROR: {
            std::array<std::uint8_t, 8> value{};
            put_le64(value, 0, config_.syserror);
            reply(0, command, value);
            return;
        }
        default:
            record_.refusals.push_back("unknown command");
            reply(STATUS_UNKNOWN_COMMAND, command);
            return;
    }
}

bool kxp_set_knob(KxpConfig& config, std::string_view key, std::string_view value) {
    if (key == "kxp.version") {
        int version = 0;
        if (!parse_number(value, version) || version < 0 || version > 2) return false;
        config.protocol_version = version;
        return true;
    }
    if (key == "kxp.sw_version") {
        std::uint32_t packed = 0;
        if (value.size() != 8 || !parse_number("0x" + std::string(value), packed)) return false;
        for (int i = 0; i < 4; ++i) config.sw_version[i] = static_cast<std::uint8_t>(packed >> (24 - 8 * i));
        return true;
    }
    if (key == "kxp.serial") {
        if (value.size() > 10) return false;
        config.serial = value;
        return true;
    }
    if (key == "kxp.mfg_id") {
        config.mfg_id = value;
        return true;
    }
    if (key == "kxp.hello_reject_status") return parse_into(value, config.hello_reject_status);
    if (key == "kxp.hello_bad_payload") return parse_flag(value, config.hello_bad_payload);
    if (key == "kxp.hello_reject_always") return parse_flag(value, config.hello_reject_always);
    if (key == "kxp.hello_info_length") {
        std::uint8_t length = 0;
        if (!parse_into(value, length)) return false;
        config.hello_info_length = length;
        return true;
    }
    if (key == "kxp.prepare_status") return parse_into(value, config.prepare_status);
    if (key == "kxp.image_data_fail_at") return parse_into(value, config.image_data_fail_at);
    if (key == "kxp.image_data_status") return parse_into(value, config.image_data_status);
    if (key == "kxp.program_first_status") {
        std::uint8_t status = 0;
        if (!parse_into(value, status)) return false;
        config.program_first_status = status;
        return true;
    }
    if (key == "kxp.program_busy_ms") return parse_into(value, config.program_busy_ms);
    if (key == "kxp.program_status") {
        std::uint8_t status = 0;
        if (!parse_into(value, status)) return false;
        config.program_status = status;
        return true;
    }
    if (key == "kxp.restart_status") return parse_into(value, config.restart_status);
    if (key == "kxp.syserror") return parse_into(value, config.syserror);
    if (key == "kxp.noise") return parse_into(value, config.noise);
    if (key == "kxp.error_marker_at") return parse_into(value, config.error_marker_at);
    if (key == "kxp.silent_after") return parse_into(value, config.silent_after);
    return false;
}

const std::vector<std::pair<std::string, std::string>>& kxp_knob_help() {
    static const std::vector<std::pair<std::string, std::string>> help = {
        {"kxp.version", "link protocol version 0, 1 or 2 (default 2); 0 and 1 reject a version 2 hello"},
        {"kxp.sw_version", "software version, 8 hex digits (default 01000205)"},
        {"kxp.serial", "serial number in the client information, up to 10 characters"},
        {"kxp.mfg_id", "manufacturer id in the client information"},
        {"kxp.hello_reject_status", "status of a rejected hello (default 0x21)"},
        {"kxp.hello_bad_payload", "1: hello reply states more payload than it carries"},
        {"kxp.hello_reject_always", "1: reject every hello, the second one too"},
        {"kxp.hello_info_length", "N: the hello reply carries only the first N bytes of the client information"},
        {"kxp.prepare_status", "status of prepare upgrade (default 0)"},
        {"kxp.image_data_fail_at", "K: the K-th image data request fails (0 never)"},
        {"kxp.image_data_status", "status of that failing image data request (default 0x0D)"},
        {"kxp.program_first_status", "forced status of the first program image request"},
        {"kxp.program_busy_ms", "device time programming takes, answered with status 11 (default 6)"},
        {"kxp.program_status", "forced programming verdict (default: check the DFU file)"},
        {"kxp.restart_status", "status of restart (default 0; 0 leaves the bus and comes back)"},
        {"kxp.syserror", "64-bit system error value (default 0)"},
        {"kxp.noise", "N unsolicited and unrelated messages before each reply"},
        {"kxp.error_marker_at", "K: the K-th link report read answers the error marker 0xEE"},
        {"kxp.silent_after", "N: answer only the first N requests, then stay silent"},
    };
    return help;
}

}  // namespace sim

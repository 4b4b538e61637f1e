#include "sim/native_device.h"

#include <algorithm>
#include <utility>

#include <zlib.h>

#include "usb/le.h"

namespace sim {
namespace {

constexpr std::size_t DFU_SUFFIX_LENGTH = 16;

void append_le32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Appends `text` and its NUL byte, cut so that the reply stays within
// NATIVE_MAX_REPLY bytes.
void append_text(std::vector<std::uint8_t>& out, const std::string& text) {
    const std::size_t room = NATIVE_MAX_REPLY > out.size() + 1 ? NATIVE_MAX_REPLY - out.size() - 1 : 0;
    const std::size_t count = std::min(text.size(), room);
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count));
    out.push_back(0);
}

}  // namespace

std::int8_t native_check_dfu_file(std::span<const std::uint8_t> file, std::string& text) {
    if (file.size() < DFU_SUFFIX_LENGTH) {
        text = "Image too short for a DFU suffix";
        return FLASH_STATUS_NOT_DFU;
    }
    const auto suffix = file.last(DFU_SUFFIX_LENGTH);
    if (suffix[8] != 'U' || suffix[9] != 'F' || suffix[10] != 'D' || suffix[11] != DFU_SUFFIX_LENGTH) {
        text = "Image is not a DFU file";
        return FLASH_STATUS_NOT_DFU;
    }
    // dwCRC is the CRC-32 register without its final inversion, which is
    // zlib's CRC-32 inverted.
    const std::size_t covered = file.size() - 4;
    const auto crc = static_cast<std::uint32_t>(~crc32(0L, file.data(), static_cast<uInt>(covered)));
    if (crc != le32(suffix, 12)) {
        text = "Image CRC mismatch";
        return FLASH_STATUS_CRC;
    }
    text = "OK";
    return FLASH_STATUS_OK;
}

NativeDevice::NativeDevice(NativeConfig config) : config_(std::move(config)) {}

bool NativeDevice::refuse(std::string reason) {
    record_.refusals.push_back(std::move(reason));
    return false;
}

bool NativeDevice::flash_busy(std::uint64_t now_ms) const {
    return flash_result_.has_value() && now_ms < flash_done_ms_;
}

bool NativeDevice::take_chunk(std::span<const std::uint8_t> payload) {
    if (payload.size() < 4) return refuse("image data without an offset");
    const std::uint32_t offset = le32(payload, 0);
    const auto bytes = payload.subspan(4);
    if (offset > config_.max_image || bytes.size() > config_.max_image - offset)
        return refuse("image data beyond the image storage");
    const std::size_t end = offset + bytes.size();
    if (record_.image.size() < end) {
        record_.image.resize(end);
        written_.resize(end);
    }
    std::copy(bytes.begin(), bytes.end(), record_.image.begin() + offset);
    std::fill(written_.begin() + offset, written_.begin() + static_cast<std::ptrdiff_t>(end), true);
    record_.chunks.push_back({offset, static_cast<std::uint32_t>(bytes.size())});
    held_ = NATIVE_IMAGE_DATA;
    return true;
}

std::int8_t NativeDevice::flash_verdict(std::string& text) const {
    if (record_.image.size() != flash_length_ ||
        std::find(written_.begin(), written_.end(), false) != written_.end()) {
        text = "Image length mismatch";
        return FLASH_STATUS_LENGTH;
    }
    return native_check_dfu_file(record_.image, text);
}

bool NativeDevice::set(std::uint64_t now_ms, std::uint8_t command, std::span<const std::uint8_t> payload) {
    record_.commands.push_back(command);
    ++record_.sets;
    if (config_.fail_set_at == record_.sets) return refuse("set refused by knob");
    if (flash_busy(now_ms)) return refuse("set while flashing");

    switch (command) {
        case NATIVE_IDENTIFY:
        case NATIVE_READ_INFO:
            info_offset_ = 0;
            held_ = command;
            return true;
        case NATIVE_PREPARE:
            prepared_ = false;
            prepare_polls_ = 0;
            record_.image.clear();
            record_.chunks.clear();
            written_.clear();
            held_ = command;
            return true;
        case NATIVE_IMAGE_DATA:
            if (!prepared_) return refuse("image data before prepare");
            return take_chunk(payload);
        case NATIVE_FLASH: {
            if (!prepared_) return refuse("flash before prepare");
            if (payload.size() < 4) return refuse("flash without an image length");
            prepared_ = false;
            flash_length_ = le32(payload, 0);
            std::string text;
            std::int8_t status = flash_verdict(text);
            if (status == FLASH_STATUS_OK) record_.flashed = record_.image;
            if (config_.flash_status) status = *config_.flash_status;
            if (config_.flash_text) text = *config_.flash_text;
            flash_result_ = status;
            flash_result_text_ = std::move(text);
            flash_done_ms_ = now_ms + config_.flash_busy_ms;
            held_ = command;
            return true;
        }
        case NATIVE_RESTART:
            if (!prepared_) return refuse("restart before prepare");
            ++record_.restarts;
            // The firmware starts over: no reply held, no upgrade under way.
            held_.reset();
            prepared_ = false;
            if (restart_handler_) restart_handler_(now_ms);
            return true;
        default: return refuse("unknown command " + std::to_string(command));
    }
}

void NativeDevice::identify_reply(NativeReply& reply) const {
    append_le32(reply.data, config_.identify_magic);
    reply.data.push_back(config_.identify_status);
    if (!config_.identify_unterminated) {
        append_text(reply.data, config_.identify_text);
        return;
    }
    // The text repeated up to the largest reply, with no NUL anywhere.
    const std::string text = config_.identify_text.empty() ? std::string("X") : config_.identify_text;
    for (std::size_t i = 0; reply.data.size() < NATIVE_MAX_REPLY; ++i)
        reply.data.push_back(static_cast<std::uint8_t>(text[i % text.size()]));
}

void NativeDevice::flash_reply(std::uint64_t now_ms, NativeReply& reply) {
    if (flash_busy(now_ms)) {
        reply.data = {1, 0, 0};
        return;
    }
    reply.data = {0, static_cast<std::uint8_t>(*flash_result_)};
    append_text(reply.data, flash_result_text_);
}

void NativeDevice::info_reply(NativeReply& reply) {
    const std::string& text = config_.info_text;
    const std::size_t piece_limit = std::clamp<std::size_t>(config_.info_piece, 1, NATIVE_MAX_REPLY - 8);
    const std::size_t piece = std::min(piece_limit, text.size() - std::min(info_offset_, text.size()));
    append_le32(reply.data, config_.info_total ? *config_.info_total : static_cast<std::uint32_t>(text.size()));
    append_le32(reply.data, static_cast<std::uint32_t>(std::min(info_offset_, text.size())));
    reply.data.insert(reply.data.end(), text.begin() + static_cast<std::ptrdiff_t>(info_offset_),
                      text.begin() + static_cast<std::ptrdiff_t>(info_offset_ + piece));
    info_offset_ += piece;
}

bool NativeDevice::get(std::uint64_t now_ms, NativeReply& reply) {
    ++record_.gets;
    if (config_.fail_get_at == record_.gets) return refuse("get refused by knob");
    if (!held_) return refuse("get without a reply to give");
    reply = NativeReply{};
    reply.command = *held_;
    switch (*held_) {
        case NATIVE_IDENTIFY: identify_reply(reply); break;
        case NATIVE_PREPARE: {
            const bool ready = prepare_polls_ >= config_.prepare_not_ready_polls;
            ++prepare_polls_;
            if (ready) prepared_ = true;
            reply.data.push_back(ready ? 1 : 0);
            break;
        }
        case NATIVE_IMAGE_DATA: {
            const auto count = static_cast<std::uint16_t>(static_cast<int>(record_.chunks.size()) +
                                                          config_.chunk_count_delta);
            reply.data = {static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8)};
            break;
        }
        case NATIVE_FLASH: flash_reply(now_ms, reply); break;
        case NATIVE_READ_INFO: info_reply(reply); break;
        default: break;
    }
    if (config_.reply_command) reply.command = *config_.reply_command;
    reply.claimed_length = config_.reply_length;
    return true;
}

}  // namespace sim

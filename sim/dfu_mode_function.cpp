#include "sim/dfu_mode_function.h"

#include <algorithm>
#include <utility>

#include "sim/dfu_run_time_function.h"
#include "sim/usb_descriptors.h"

namespace sim {
namespace {

TransferStatus reply(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> data, std::size_t& transferred) {
    transferred = std::min(bytes.size(), data.size());
    std::copy_n(bytes.begin(), transferred, data.begin());
    return TransferStatus::ack;
}

bool host_to_device(const SetupPacket& setup) { return setup.request_type == 0x21; }
bool device_to_host(const SetupPacket& setup) { return setup.request_type == 0xA1; }

}  // namespace

DfuModeFunction::DfuModeFunction(std::shared_ptr<DfuFirmware> firmware, DeviceConfiguration run_time)
    : firmware_(std::move(firmware)), run_time_(std::move(run_time)) {}

void DfuModeFunction::on_attach(CompositeDevice& device) { device_ = &device; }

void DfuModeFunction::append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const {
    append_interface_descriptor(out, interface_number, 0, 0xFE, 0x01, 0x02);
    append_dfu_functional_descriptor(out, dfu::ATTRIBUTES, dfu::DETACH_TIMEOUT, dfu::TRANSFER_SIZE);
}

TransferStatus DfuModeFunction::control(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                                        std::size_t& transferred) {
    DfuRequest request{now_ms, DfuMode::dfu, setup, state_, TransferStatus::ack, 0, false};
    transferred = 0;
    TransferStatus status = TransferStatus::stall;
    if (firmware_->injected_failure(setup.request)) {
        bool injected = false;
        status = stall_into_error(injected);
    } else {
        status = handle(now_ms, setup, data, transferred, request.illegal);
    }
    request.status = status;
    request.transferred = transferred;
    if (request.illegal) ++firmware_->record().illegal;
    firmware_->record().requests.push_back(request);
    return status;
}

TransferStatus DfuModeFunction::stall_into_error(bool& illegal) {
    illegal = true;
    state_ = dfu::ERROR;
    status_ = dfu::ERR_STALLEDPKT;
    return TransferStatus::stall;
}

TransferStatus DfuModeFunction::handle(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                                       std::size_t& transferred, bool& illegal) {
    const bool manifesting = state_ == dfu::MANIFEST_SYNC || state_ == dfu::MANIFEST;
    switch (setup.request) {
    case dfu::GETSTATUS:
        if (!device_to_host(setup) || setup.length < 6) return stall_into_error(illegal);
        return get_status(now_ms, data, transferred);
    case dfu::GETSTATE: {
        if (!device_to_host(setup) || setup.length < 1) return stall_into_error(illegal);
        const std::uint8_t state[1] = {state_};
        return reply(state, data, transferred);
    }
    case dfu::DNLOAD:
        if (!host_to_device(setup) || manifesting) return stall_into_error(illegal);
        return dnload(now_ms, setup, data, transferred, illegal);
    case dfu::UPLOAD:
        if (!device_to_host(setup) || (state_ != dfu::IDLE && state_ != dfu::UPLOAD_IDLE))
            return stall_into_error(illegal);
        if (state_ == dfu::IDLE) {
            upload_offset_ = 0;
            if (!downloaded_) text_ = firmware_->image_info();
            if (firmware_->config().status_text) text_ = *firmware_->config().status_text;
        }
        return upload(data, transferred);
    case dfu::CLRSTATUS:
        if (!host_to_device(setup) || state_ != dfu::ERROR) return stall_into_error(illegal);
        state_ = dfu::IDLE;
        status_ = dfu::OK;
        return TransferStatus::ack;
    case dfu::ABORT:
        if (!host_to_device(setup) || manifesting || state_ == dfu::ERROR) return stall_into_error(illegal);
        state_ = dfu::IDLE;
        return TransferStatus::ack;
    case dfu::DETACH:
        if (!host_to_device(setup) || state_ != dfu::IDLE) return stall_into_error(illegal);
        ++firmware_->record().dfu_detaches;
        if (device_ != nullptr) {
            const DfuConfig& config = firmware_->config();
            // A boot loader that finds no firmware it can start stays in DFU mode.
            device_->reenumerate(now_ms + config.detach_leave_ms, now_ms + config.detach_back_ms,
                                 config.leave_stays_dfu ? dfu_mode_configuration(firmware_, run_time_) : run_time_);
        }
        return TransferStatus::ack;
    default:
        return stall_into_error(illegal);
    }
}

TransferStatus DfuModeFunction::dnload(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                                       std::size_t& transferred, bool& illegal) {
    DfuRecord& record = firmware_->record();
    if (setup.length > dfu::TRANSFER_SIZE) return stall_into_error(illegal);
    if (setup.length == 0) {
        // The zero-length block ends a download; in dfuIDLE there is none.
        if (state_ != dfu::DNLOAD_SYNC && state_ != dfu::DNLOAD_IDLE) return stall_into_error(illegal);
        record.blocks.push_back({setup.value, 0});
        std::string text;
        manifest_status_ = firmware_->manifest(text);
        text_ = text;
        downloaded_ = true;
        manifest_done_ms_ = now_ms + firmware_->config().manifest_ms;
        state_ = dfu::MANIFEST_SYNC;
        return TransferStatus::ack;
    }
    if (state_ == dfu::IDLE) {
        record.blocks.clear();
        record.received.clear();
    } else if (state_ != dfu::DNLOAD_SYNC && state_ != dfu::DNLOAD_IDLE) {
        return stall_into_error(illegal);
    }
    std::size_t accepted = std::min<std::size_t>(setup.length, data.size());
    const DfuConfig& config = firmware_->config();
    if (config.short_block && *config.short_block == record.blocks.size())
        accepted = std::min<std::size_t>(accepted, config.short_count);
    record.received.insert(record.received.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(accepted));
    record.blocks.push_back({setup.value, accepted});
    transferred = accepted;
    state_ = dfu::DNLOAD_SYNC;
    return TransferStatus::ack;
}

TransferStatus DfuModeFunction::upload(std::span<std::uint8_t> data, std::size_t& transferred) {
    const std::size_t left = text_.size() - std::min(upload_offset_, text_.size());
    transferred = std::min(left, data.size());
    std::copy_n(text_.begin() + static_cast<std::ptrdiff_t>(upload_offset_), transferred, data.begin());
    upload_offset_ += transferred;
    // A short frame ends the upload.
    state_ = transferred < data.size() ? dfu::IDLE : dfu::UPLOAD_IDLE;
    return TransferStatus::ack;
}

TransferStatus DfuModeFunction::get_status(std::uint64_t now_ms, std::span<std::uint8_t> data,
                                           std::size_t& transferred) {
    std::uint32_t poll_ms = 0;
    if (state_ == dfu::DNLOAD_SYNC) {
        state_ = dfu::DNLOAD_IDLE;
    } else if (state_ == dfu::MANIFEST_SYNC || state_ == dfu::MANIFEST) {
        if (now_ms < manifest_done_ms_) {
            state_ = dfu::MANIFEST;
            poll_ms = static_cast<std::uint32_t>(std::min<std::uint64_t>(manifest_done_ms_ - now_ms, 0xFFFFFF));
        } else if (manifest_status_ == dfu::OK) {
            state_ = dfu::IDLE;
        } else {
            state_ = dfu::ERROR;
            status_ = manifest_status_;
        }
    }
    const std::uint8_t reply_bytes[6] = {status_,
                                         static_cast<std::uint8_t>(poll_ms),
                                         static_cast<std::uint8_t>(poll_ms >> 8),
                                         static_cast<std::uint8_t>(poll_ms >> 16),
                                         state_,
                                         0};
    return reply(reply_bytes, data, transferred);
}

}  // namespace sim

#include "sim/dfu_run_time_function.h"

#include <algorithm>

#include "sim/dfu_mode_function.h"
#include "sim/usb_descriptors.h"

namespace sim {

DeviceConfiguration dfu_mode_configuration(const std::shared_ptr<DfuFirmware>& firmware,
                                           const DeviceConfiguration& run_time) {
    DeviceConfiguration result;
    result.identity = run_time.identity;
    result.identity.product_id = DFU_MODE_PRODUCT_ID;
    if (firmware->config().serial) result.identity.serial = *firmware->config().serial;
    result.functions.push_back(std::make_shared<DfuModeFunction>(firmware, run_time));
    return result;
}

void DfuRunTimeFunction::on_attach(CompositeDevice& device) {
    device_ = &device;
    state_ = dfu::APP_IDLE;
}

void DfuRunTimeFunction::append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const {
    append_interface_descriptor(out, interface_number, 0, 0xFE, 0x01, 0x01);
    append_dfu_functional_descriptor(out, dfu::ATTRIBUTES, dfu::DETACH_TIMEOUT, dfu::TRANSFER_SIZE);
}

TransferStatus DfuRunTimeFunction::control(std::uint64_t now_ms, const SetupPacket& setup,
                                           std::span<std::uint8_t> data, std::size_t& transferred) {
    DfuRequest request{now_ms, DfuMode::run_time, setup, state_, TransferStatus::ack, 0, false};
    transferred = 0;
    const TransferStatus status = firmware_->injected_failure(setup.request)
                                      ? TransferStatus::stall
                                      : handle(now_ms, setup, data, transferred, request.illegal);
    request.status = status;
    request.transferred = transferred;
    if (request.illegal) ++firmware_->record().illegal;
    firmware_->record().requests.push_back(request);
    return status;
}

TransferStatus DfuRunTimeFunction::handle(std::uint64_t now_ms, const SetupPacket& setup,
                                          std::span<std::uint8_t> data, std::size_t& transferred, bool& illegal) {
    const bool out = setup.request_type == 0x21;
    const bool in = setup.request_type == 0xA1;
    if (setup.request == dfu::DETACH && out && setup.length == 0 && state_ == dfu::APP_IDLE) {
        detach(now_ms);
        return firmware_->config().detach_stall ? TransferStatus::stall : TransferStatus::ack;
    }
    if (setup.request == dfu::GETSTATUS && in && setup.length >= 6) {
        const std::uint8_t status[6] = {dfu::OK, 0, 0, 0, state_, 0};
        transferred = std::min(sizeof status, data.size());
        std::copy_n(status, transferred, data.begin());
        return TransferStatus::ack;
    }
    if (setup.request == dfu::GETSTATE && in && setup.length >= 1 && !data.empty()) {
        data[0] = state_;
        transferred = 1;
        return TransferStatus::ack;
    }
    illegal = true;
    return TransferStatus::stall;
}

void DfuRunTimeFunction::detach(std::uint64_t now_ms) {
    ++firmware_->record().run_time_detaches;
    state_ = dfu::APP_DETACH;
    if (device_ == nullptr) return;
    const DfuConfig& config = firmware_->config();
    const std::uint64_t leave = now_ms + config.detach_leave_ms;
    if (config.detach_never_back) {
        device_->unplug(leave);
        return;
    }
    const DeviceConfiguration& current = device_->configuration();
    device_->reenumerate(leave, now_ms + config.detach_back_ms,
                         config.detach_stays_run_time ? current : dfu_mode_configuration(firmware_, current));
}

}  // namespace sim

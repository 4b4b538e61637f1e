#include "sim/dfu_firmware.h"

#include <cstdio>

#include <zlib.h>

#include "sim/native_device.h"

namespace sim {
namespace {

std::string describe(const std::vector<std::uint8_t>& image) {
    // The CRC as a DFU file's dwCRC holds it: over everything before that
    // field, without the final inversion.
    const std::size_t covered = image.size() >= 4 ? image.size() - 4 : image.size();
    const auto crc = static_cast<std::uint32_t>(~crc32(0L, image.data(), static_cast<uInt>(covered)));
    char text[64];
    std::snprintf(text, sizeof text, "%zu bytes, CRC %08X", image.size(), crc);
    return text;
}

}  // namespace

bool DfuFirmware::injected_failure(std::uint8_t request) {
    const unsigned occurrence = ++seen_[request];
    const auto it = config_.fail_at.find(request);
    return it != config_.fail_at.end() && it->second == occurrence;
}

std::uint8_t DfuFirmware::manifest(std::string& text) {
    std::string verdict;
    const std::int8_t check = native_check_dfu_file(record_.received, verdict);
    std::uint8_t status = check == FLASH_STATUS_OK    ? dfu::OK
                          : check == FLASH_STATUS_CRC ? dfu::ERR_VERIFY
                                                      : dfu::ERR_FILE;
    if (config_.manifest_status) {
        status = *config_.manifest_status;
        if (status != dfu::OK && check == FLASH_STATUS_OK) verdict = "verification failed";
    }
    if (status == dfu::OK) {
        installed_ = record_.received;
        text = "Image accepted: " + describe(record_.received);
    } else {
        text = "Image rejected: " + verdict;
    }
    record_.last_manifest_status.push_back(status);
    return status;
}

std::string DfuFirmware::image_info() const {
    return installed_ ? "Running image: " + describe(*installed_) : std::string("Running image: factory firmware 1.0.0");
}

}  // namespace sim

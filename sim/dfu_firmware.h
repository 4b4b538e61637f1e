// What a simulated device's DFU side shares between its run-time interface
// and its DFU mode: the behaviour knobs, the record of every DFU request it
// saw, and the firmware it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/usb_model.h"

namespace sim {

// DFU 1.1 request codes, states and status codes, from the device's side.
namespace dfu {
inline constexpr std::uint8_t DETACH = 0;
inline constexpr std::uint8_t DNLOAD = 1;
inline constexpr std::uint8_t UPLOAD = 2;
inline constexpr std::uint8_t GETSTATUS = 3;
inline constexpr std::uint8_t CLRSTATUS = 4;
inline constexpr std::uint8_t GETSTATE = 5;
inline constexpr std::uint8_t ABORT = 6;

inline constexpr std::uint8_t APP_IDLE = 0;
inline constexpr std::uint8_t APP_DETACH = 1;
inline constexpr std::uint8_t IDLE = 2;
inline constexpr std::uint8_t DNLOAD_SYNC = 3;
inline constexpr std::uint8_t DNLOAD_IDLE = 5;
inline constexpr std::uint8_t MANIFEST_SYNC = 6;
inline constexpr std::uint8_t MANIFEST = 7;
inline constexpr std::uint8_t UPLOAD_IDLE = 9;
inline constexpr std::uint8_t ERROR = 10;

inline constexpr std::uint8_t OK = 0;
inline constexpr std::uint8_t ERR_FILE = 2;
inline constexpr std::uint8_t ERR_VERIFY = 7;
inline constexpr std::uint8_t ERR_STALLEDPKT = 15;

inline constexpr std::uint16_t TRANSFER_SIZE = 4096;  // wTransferSize
inline constexpr std::uint16_t DETACH_TIMEOUT = 1000;  // wDetachTimeOut, ms
inline constexpr std::uint8_t ATTRIBUTES = 0x0F;       // download, upload, manifestation tolerant, will detach
}  // namespace dfu

// The DFU behaviour of a device; every field is a knob.
struct DfuConfig {
    std::uint64_t detach_leave_ms = 10;      // after a DETACH, off the bus this much later
    std::uint64_t detach_back_ms = 1500;     // and enumerated again this long after the DETACH
    bool detach_stall = false;               // run-time DETACH stalls (the device still detaches)
    bool detach_never_back = false;          // after the run-time DETACH the device never comes back
    bool detach_stays_run_time = false;      // comes back from the run-time DETACH in run-time mode
    bool leave_stays_dfu = false;            // comes back from the DFU-mode DETACH in DFU mode again
    // The serial number string in DFU mode ("" for none); default: the
    // run-time one.
    std::optional<std::string> serial;
    std::uint64_t manifest_ms = 1000;        // device time that manifestation takes
    std::optional<std::uint8_t> manifest_status;  // forced bStatus of manifestation; default: check the file
    std::optional<std::string> status_text;  // forced UPLOAD text (NULs allowed)
    std::optional<std::uint32_t> short_block;  // this DNLOAD block moves only `short_count` bytes
    std::uint32_t short_count = 1000;
    // Request code -> the occurrence (1-based, counted over the device's
    // life) of that request that stalls.
    std::map<std::uint8_t, unsigned> fail_at;
};

enum class DfuMode { run_time, dfu };

struct DfuRequest {
    std::uint64_t time_ms = 0;
    DfuMode mode = DfuMode::run_time;
    SetupPacket setup;
    std::uint8_t state_before = 0;
    TransferStatus status = TransferStatus::ack;
    std::size_t transferred = 0;
    bool illegal = false;  // refused because the state does not allow it
};

struct DfuBlock {
    std::uint16_t number = 0;
    std::size_t length = 0;
};

// What the device saw, for tests to assert on.
struct DfuRecord {
    std::vector<DfuRequest> requests;
    std::vector<DfuBlock> blocks;          // DNLOAD blocks of the last download, in order
    std::vector<std::uint8_t> received;    // the bytes of the last download
    unsigned illegal = 0;
    unsigned run_time_detaches = 0;
    unsigned dfu_detaches = 0;
    std::vector<std::uint8_t> last_manifest_status;  // bStatus of every manifestation
};

class DfuFirmware {
public:
    explicit DfuFirmware(DfuConfig config = {}) : config_(std::move(config)) {}

    DfuConfig& config() { return config_; }
    const DfuRecord& record() const { return record_; }
    DfuRecord& record() { return record_; }

    // True when this request is the configured failing occurrence of its code.
    bool injected_failure(std::uint8_t request);

    // Judges a finished download: the bStatus manifestation ends with and the
    // text the device reports afterwards. A good image becomes the firmware
    // the device runs once it leaves DFU mode.
    std::uint8_t manifest(std::string& text);
    // The text UPLOAD returns when no download happened in this DFU session.
    std::string image_info() const;
    // The image installed by the last good manifestation, if any.
    const std::optional<std::vector<std::uint8_t>>& installed() const { return installed_; }

private:
    DfuConfig config_;
    DfuRecord record_;
    std::map<std::uint8_t, unsigned> seen_;
    std::optional<std::vector<std::uint8_t>> installed_;
};

}  // namespace sim

// The device end of the link in the simulated touch controller: joins the
// host's frames into requests, answers them (hello, prepare upgrade, image
// data, program image, restart, disconnect, get system error) and hands its
// replies out frame by frame through the feature report.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/clock.h"
#include "sim/kxp_frames.h"
#include "sim/link_peer.h"

namespace sim {

// The device's behaviour; every field is a knob.
struct KxpConfig {
    // Client information: protocol version 0, 1 or 2 (a version 0 or 1
    // device rejects a hello of another version with its own information).
    int protocol_version = 2;
    std::array<std::uint8_t, 4> sw_version{0x01, 0x00, 0x02, 0x05};
    std::string serial = "TC00000001";  // up to 10 characters, version 2 only
    std::string mfg_id = "Korvix Touch";
    std::uint8_t hello_reject_status = 0x21;  // status of a rejected hello
    bool hello_bad_payload = false;           // reply stating more payload than it carries
    bool hello_reject_always = false;         // rejects every hello, also in its own version
    std::optional<std::uint8_t> hello_info_length{};  // hello reply carries only this much information
    std::uint8_t prepare_status = 0;
    unsigned image_data_fail_at = 0;          // K-th image data request (1-based) fails; 0 never
    std::uint8_t image_data_status = 0x0D;    // status of that failure
    std::optional<std::uint8_t> program_first_status{};  // forced status of the first program image
    std::uint32_t program_busy_ms = 6;        // device time programming takes
    std::optional<std::uint8_t> program_status{};  // forced verdict; default: check the image
    std::uint8_t restart_status = 0;
    std::uint64_t syserror = 0;
    unsigned noise = 0;                      // unsolicited and unrelated messages before each reply
    unsigned error_marker_at = 0;            // K-th get (1-based) answers the error marker; 0 never
    unsigned silent_after = 0;               // answer only the first N requests; 0 always answer
};

// Sets one knob from its command-line spelling; false for an unknown key or
// a value that does not parse.
bool kxp_set_knob(KxpConfig& config, std::string_view key, std::string_view value);
// Every knob with a one-line description, for --sim-help.
const std::vector<std::pair<std::string, std::string>>& kxp_knob_help();

// What the device saw, for tests to assert on.
struct KxpRecord {
    std::vector<std::vector<std::uint8_t>> requests;  // whole request messages, in order
    std::vector<std::string> refusals;
    std::optional<std::uint32_t> announced_size;      // from the last prepare upgrade
    std::vector<std::uint8_t> image;                  // image bytes since that prepare
    std::optional<std::vector<std::uint8_t>> programmed;  // image programmed with status 0
    unsigned restarts = 0;
    unsigned disconnects = 0;
    unsigned gets = 0;
};

class KxpDevice : public LinkPeer {
public:
    // Each link transfer occupies the bus for one millisecond (one USB frame
    // at full speed) of `clock`, so that the host's back-to-back polling
    // moves virtual time as it does real time.
    explicit KxpDevice(KxpConfig config = {}, Clock* clock = nullptr);

    bool receive_frame(std::uint64_t now_ms, std::span<const std::uint8_t> frame) override;
    bool next_report(std::uint64_t now_ms, std::span<std::uint8_t> body) override;

    // Called when a restart request has been answered.
    void on_restart(std::function<void(std::uint64_t now_ms)> handler) { restart_handler_ = std::move(handler); }

    KxpConfig& config() { return config_; }
    const KxpRecord& record() const { return record_; }

private:
    void answer(std::uint64_t now_ms, const std::vector<std::uint8_t>& request);
    void hello(const std::vector<std::uint8_t>& request);
    std::uint8_t program(std::uint64_t now_ms);
    std::vector<std::uint8_t> client_information() const;
    void queue(std::vector<std::uint8_t> message);
    void reply(std::uint8_t status, std::uint8_t command, std::span<const std::uint8_t> payload = {});
    void tick();

    KxpConfig config_;
    Clock* clock_;
    KxpRecord record_;
    KxpReassembler reassembler_;
    std::deque<Frame> outgoing_;
    unsigned image_requests_ = 0;
    bool programming_ = false;
    bool restart_pending_ = false;
    std::uint64_t programmed_at_ms_ = 0;
    std::function<void(std::uint64_t)> restart_handler_;
};

}  // namespace sim

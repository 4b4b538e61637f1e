// What a run tells its user, as events. The path procedures and the front end
// emit them; the reporters turn them into console text (console_reporter),
// JSON Lines (json_reporter) or a record for tests. Protocol and device
// layers never see a reporter.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "report/messages.h"
#include "report/outcome.h"
#include "usb/usb_device_identity.h"

enum class run_path : std::uint8_t { hid, dfu, kxp };

enum class phase : std::uint8_t {
    upgrade,   // from the first image byte to the end of flashing
    prepare,   // the device readies itself for an image (link)
    transfer,  // the image goes out
    flash,     // the device writes it
    detach,    // the device is told to leave its mode
    reset,     // the device is told to restart (-r, or after a link upgrade)
    restart,   // the device is told to restart after a native upgrade
    wait,      // waiting for the device to come back
};

enum class info_kind : std::uint8_t {
    identity,              // the native identify: value its status byte
    information,           // the device's information text
    flash_status,          // the device's word on the flash: value its status (native)
    flash_status_missing,  // the DFU status text after a download could not be read
    image_info,            // the DFU status text read without a download; empty: none
    device_message,        // a DFU message: a request that failed, or the name of the status
    syserror,              // the link's system error value: value it
    version,               // the tool's version, built-in image and backend
};

// The device's client information over the link; empty where it gave none.
struct link_peer {
    std::optional<std::string> protocol;
    std::optional<std::string> sw_version;
    std::optional<std::string> mfg_id;
    std::string serial;
};

// One line of -l: a device and what a run on it would do.
struct listed_device {
    const usb_device_identity& device;
    std::optional<run_path> path;  // none: no path (or not probed)
    std::string state;             // the text -l shows after the location
};

// How the run on one device of a run on several devices ended.
struct device_result {
    std::string label;  // how the run names it: its serial, else its location
    std::optional<std::string> serial;
    std::string location;
    std::optional<run_path> path;  // none: it ended before a path was chosen
    outcome result;
    std::string text;  // "OK", or the error that ended it
    std::uint64_t ms = 0;  // how long its run took
};

class reporter {
public:
    virtual ~reporter() = default;

    virtual void start(std::span<char* const> argv) = 0;
    // Conversation text with no meaning for a script (mode banners and the
    // like), as the console shows it.
    virtual void say(std::string_view text) = 0;
    // The device the run acts on, and the path it now talks to it over.
    virtual void device(const usb_device_identity& device, run_path path) = 0;
    virtual void listed(const listed_device& entry) = 0;
    virtual void phase_begin(phase step, std::string_view detail = {}) = 0;
    virtual void progress(phase step, std::uint64_t done, std::uint64_t total) = 0;
    // One more poll of a device that is busy, or one more look for it.
    virtual void poll(phase step) = 0;
    virtual void phase_end(phase step, const outcome& result) = 0;
    // The end of a wait: back (as product_id, with its release where the path
    // shows it), or not.
    virtual void waited(bool back, std::uint16_t product_id, std::optional<std::uint16_t> release) = 0;
    virtual void info(info_kind kind, std::string_view text, std::int64_t value = 0) = 0;
    virtual void peer(const link_peer& peer) = 0;
    virtual void notice(std::string_view text) = 0;
    // A hint on what would let the tool reach a device (rights, drivers).
    virtual void hint(std::string_view text) = 0;
    virtual void error(const error_report& report) = 0;
    // A run on several devices: one device's run has ended; all of them
    // have (in the order they were found); a station's running count.
    virtual void finished(const device_result& device) = 0;
    virtual void summary(std::span<const device_result> devices) = 0;
    virtual void tally(unsigned upgraded, unsigned failed) = 0;
    // The last event: the run's outcome and its exit status.
    virtual void result(const outcome& result, int exit_status) = 0;
};

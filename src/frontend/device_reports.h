// Where the runs of a run on several devices report: each device's run gets
// a reporter of its own, made before its worker starts and used from the
// worker's thread alone; the ends of the runs and a station's count go to
// the run's own output.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "report/live_view.h"
#include "report/reporter.h"
#include "report/shared_console.h"

// A device's reporter, and the number of its output (its lines) that its end
// names.
struct device_output {
    std::unique_ptr<reporter> report;
    std::size_t line = 0;
};

class device_reports {
public:
    virtual ~device_reports() = default;
    virtual device_output open(const usb_device_identity& device, const std::string& label) = 0;
    // Safe from any thread: `line` is the one open gave the device.
    virtual void finished(std::size_t line, const device_result& device) = 0;
    virtual void tally(unsigned upgraded, unsigned failed) = 0;
    // Before the summary: everything of the devices' runs is out.
    virtual void close() = 0;
};

// Console text, each device's lines prefixed with "[label] ".
std::unique_ptr<device_reports> prefixed_reports(shared_console& console, reporter& main, std::string build_date);
// JSON Lines, each device's events carrying its serial and location.
std::unique_ptr<device_reports> json_lines_reports(shared_console& console, reporter& main, std::string version);
// The terminal's live view, one line per device; `now_ms` is the calling
// thread's clock.
std::unique_ptr<device_reports> live_reports(live_view& view, std::function<std::uint64_t()> now_ms);

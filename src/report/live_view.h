// The terminal's view of a run on several devices: one line per device
// (label, path, phase, percent, rate, time left), redrawn in place as the
// runs go on, and a last line with a station's count.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "report/console_reporter.h"
#include "report/reporter.h"

class live_view {
public:
    // `keep_finished`: how many lines of devices done stay in view (the
    // newest); a station that runs all day drops the older ones.
    live_view(console_sink target, std::size_t keep_finished);

    // A new line, and a reporter that keeps it up to date, safe to use from
    // its own thread; `now_ms` is that thread's clock. It must not outlive
    // the view.
    std::size_t add_line(std::string label);
    std::unique_ptr<reporter> line_reporter(std::size_t index, std::function<std::uint64_t()> now_ms);
    // The device's run has ended: its line shows the result.
    void finished(std::size_t index, const device_result& device);
    void tally(unsigned upgraded, unsigned failed);
    // The last drawing; the view is left as it stands.
    void close();

    struct row {
        std::string label;
        std::string path = "-";
        std::string step = "starting";
        std::optional<std::uint64_t> percent;
        std::uint64_t rate = 0;  // bytes per second over the transfer so far
        std::optional<std::uint64_t> seconds_left;
        std::optional<std::string> end;  // "OK" or the failure, once done
    };
    // Changes a line and redraws when due (`now`: at once).
    void update(std::size_t index, const std::function<void(row&)>& change, bool now);

private:
    void draw();

    std::mutex mutex_;
    console_sink target_;
    std::size_t keep_finished_;
    std::vector<row> rows_;
    std::optional<std::string> footer_;
    std::size_t drawn_ = 0;  // lines of the last drawing, to go back over
    std::chrono::steady_clock::time_point last_draw_{};
};

// One line of the view, as drawn (without the terminal's controls).
std::string live_view_text(const live_view::row& line);

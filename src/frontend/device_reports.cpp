#include "frontend/device_reports.h"

#include "report/console_reporter.h"
#include "report/json_reporter.h"

namespace {

// Console text or JSON Lines: each device's output is a run of the shared
// console; its end and a station's count are the run's own events.
class console_reports final : public device_reports {
public:
    // `stamp`: the console reporter's build date, or the JSON reporter's version.
    console_reports(shared_console& console, reporter& main, std::string stamp, bool json)
        : console_(console), main_(main), stamp_(std::move(stamp)), json_(json) {}

    device_output open(const usb_device_identity& device, const std::string& label) override {
        device_output output;
        if (json_) {
            auto lines = std::make_unique<json_reporter>(stamp_, console_.sink("", &output.line));
            lines->tag(device);
            output.report = std::move(lines);
        } else {
            output.report = std::make_unique<console_reporter>(stamp_, console_.sink("[" + label + "] ", &output.line));
        }
        return output;
    }
    void finished(std::size_t line, const device_result& device) override {
        // A device's last line, even unfinished, comes before its end.
        console_.flush(line);
        main_.finished(device);
    }
    void tally(unsigned upgraded, unsigned failed) override { main_.tally(upgraded, failed); }
    void close() override { console_.flush(); }

private:
    shared_console& console_;
    reporter& main_;
    std::string stamp_;
    bool json_;
};

class live final : public device_reports {
public:
    live(live_view& view, std::function<std::uint64_t()> now_ms) : view_(view), now_ms_(std::move(now_ms)) {}

    device_output open(const usb_device_identity&, const std::string& label) override {
        const std::size_t line = view_.add_line(label);
        return {view_.line_reporter(line, now_ms_), line};
    }
    void finished(std::size_t line, const device_result& device) override { view_.finished(line, device); }
    void tally(unsigned upgraded, unsigned failed) override { view_.tally(upgraded, failed); }
    void close() override { view_.close(); }

private:
    live_view& view_;
    std::function<std::uint64_t()> now_ms_;
};

}  // namespace

std::unique_ptr<device_reports> prefixed_reports(shared_console& console, reporter& main, std::string build_date) {
    return std::make_unique<console_reports>(console, main, std::move(build_date), false);
}

std::unique_ptr<device_reports> json_lines_reports(shared_console& console, reporter& main, std::string version) {
    return std::make_unique<console_reports>(console, main, std::move(version), true);
}

std::unique_ptr<device_reports> live_reports(live_view& view, std::function<std::uint64_t()> now_ms) {
    return std::make_unique<live>(view, std::move(now_ms));
}

#include "frontend/device_reports.h"

#include <mutex>

#include "report/console_reporter.h"
#include "report/json_reporter.h"

namespace {

class prefixed final : public device_reports {
public:
    prefixed(shared_console& console, reporter& main, std::string build_date)
        : console_(console), main_(main), build_date_(std::move(build_date)) {}

    std::unique_ptr<reporter> open(const usb_device_identity&, const std::string& label) override {
        std::size_t run = 0;
        auto console = std::make_unique<console_reporter>(build_date_, console_.sink("[" + label + "] ", &run));
        const std::lock_guard lock(mutex_);
        runs_[console.get()] = run;
        return console;
    }
    void finished(const reporter& its, const device_result& device) override {
        // A device's last line, even unfinished, comes before its end.
        {
            const std::lock_guard lock(mutex_);
            if (const auto it = runs_.find(&its); it != runs_.end()) console_.flush(it->second);
        }
        main_.finished(device);
    }
    void tally(unsigned upgraded, unsigned failed) override { main_.tally(upgraded, failed); }
    void close() override { console_.flush(); }

private:
    shared_console& console_;
    reporter& main_;
    std::string build_date_;
    std::mutex mutex_;
    std::map<const reporter*, std::size_t> runs_;
};

class json_lines final : public device_reports {
public:
    json_lines(shared_console& console, reporter& main, std::string version)
        : console_(console), main_(main), version_(std::move(version)) {}

    std::unique_ptr<reporter> open(const usb_device_identity& device, const std::string&) override {
        auto lines = std::make_unique<json_reporter>(version_, console_.sink(""));
        lines->tag(device);
        return lines;
    }
    void finished(const reporter&, const device_result& device) override { main_.finished(device); }
    void tally(unsigned upgraded, unsigned failed) override { main_.tally(upgraded, failed); }
    void close() override { console_.flush(); }

private:
    shared_console& console_;
    reporter& main_;
    std::string version_;
};

class live final : public device_reports {
public:
    live(live_view& view, std::function<std::uint64_t()> now_ms) : view_(view), now_ms_(std::move(now_ms)) {}

    std::unique_ptr<reporter> open(const usb_device_identity&, const std::string& label) override {
        const std::size_t index = view_.add_line(label);
        std::unique_ptr<reporter> line = view_.line_reporter(index, now_ms_);
        const std::lock_guard lock(mutex_);
        lines_[line.get()] = index;
        return line;
    }
    void finished(const reporter& its, const device_result& device) override {
        std::size_t index = 0;
        {
            const std::lock_guard lock(mutex_);
            const auto it = lines_.find(&its);
            if (it == lines_.end()) return;
            index = it->second;
        }
        view_.finished(index, device);
    }
    void tally(unsigned upgraded, unsigned failed) override { view_.tally(upgraded, failed); }
    void close() override { view_.close(); }

private:
    live_view& view_;
    std::function<std::uint64_t()> now_ms_;
    std::mutex mutex_;
    std::map<const reporter*, std::size_t> lines_;
};

}  // namespace

std::unique_ptr<device_reports> prefixed_reports(shared_console& console, reporter& main, std::string build_date) {
    return std::make_unique<prefixed>(console, main, std::move(build_date));
}

std::unique_ptr<device_reports> json_lines_reports(shared_console& console, reporter& main, std::string version) {
    return std::make_unique<json_lines>(console, main, std::move(version));
}

std::unique_ptr<device_reports> live_reports(live_view& view, std::function<std::uint64_t()> now_ms) {
    return std::make_unique<live>(view, std::move(now_ms));
}

#include "report/live_view.h"

#include <algorithm>

#include "report/json_reporter.h"
#include "report/text_format.h"

namespace {

// Redraws at most this often while bytes go out; a change of phase redraws
// at once.
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(100);

// Erases the terminal line under the cursor.
constexpr const char* ERASE_LINE = "\r\x1b[2K";

class line_reporter final : public reporter {
public:
    line_reporter(live_view& view, std::size_t index, std::function<std::uint64_t()> now_ms)
        : view_(view), index_(index), now_ms_(std::move(now_ms)) {}

    void start(std::span<char* const>) override {}
    void say(std::string_view) override {}
    void device(const usb_device_identity&, run_path path) override {
        view_.update(index_, [&](live_view::row& row) { row.path = interface_name(path); }, true);
    }
    void listed(const listed_device&) override {}
    void phase_begin(phase step, std::string_view) override {
        if (step == phase::transfer) began_ms_ = now_ms_();
        view_.update(
            index_,
            [&](live_view::row& row) {
                row.step = phase_name(step);
                row.percent.reset();
                row.rate = 0;
                row.seconds_left.reset();
            },
            true);
    }
    void progress(phase step, std::uint64_t done, std::uint64_t total) override {
        const std::uint64_t elapsed = now_ms_() - began_ms_;
        view_.update(
            index_,
            [&](live_view::row& row) {
                row.step = phase_name(step);
                row.percent = total == 0 ? 100 : std::min<std::uint64_t>(100, done * 100 / total);
                if (elapsed == 0 || done == 0) return;
                row.rate = done * 1000 / elapsed;
                row.seconds_left = done >= total ? 0 : (total - done) * elapsed / done / 1000;
            },
            done >= total);
    }
    void poll(phase) override {}
    void phase_end(phase, const outcome&) override {}
    void waited(bool, std::uint16_t, std::optional<std::uint16_t>) override {}
    void info(info_kind, std::string_view, std::int64_t) override {}
    void peer(const link_peer&) override {}
    void notice(std::string_view) override {}
    void hint(std::string_view) override {}
    void error(const error_report&) override {}
    void finished(const device_result&) override {}
    void summary(std::span<const device_result>) override {}
    void tally(unsigned, unsigned) override {}
    void result(const outcome&, int) override {}

private:
    live_view& view_;
    std::size_t index_;
    std::function<std::uint64_t()> now_ms_;
    std::uint64_t began_ms_ = 0;
};

}  // namespace

std::string live_view_text(const live_view::row& line) {
    std::string text = text_format("%-16.16s  %-3.3s  ", line.label.c_str(), line.path.c_str());
    if (line.end) return text + *line.end;
    text += text_format("%-8.8s", line.step.c_str());
    if (line.percent) text += text_format("  %3u%%", static_cast<unsigned>(*line.percent));
    if (line.rate != 0) text += text_format("  %6.1f KB/s", static_cast<double>(line.rate) / 1024.0);
    if (line.seconds_left)
        text += text_format("  %u:%02u left", static_cast<unsigned>(*line.seconds_left / 60),
                            static_cast<unsigned>(*line.seconds_left % 60));
    return text;
}

live_view::live_view(console_sink target, std::size_t keep_finished)
    : target_(std::move(target)), keep_finished_(keep_finished) {}

std::size_t live_view::add_line(std::string label) {
    const std::lock_guard lock(mutex_);
    row line;
    line.label = std::move(label);
    rows_.push_back(std::move(line));
    draw();
    return rows_.size() - 1;
}

std::unique_ptr<reporter> live_view::line_reporter(std::size_t index, std::function<std::uint64_t()> now_ms) {
    return std::make_unique<::line_reporter>(*this, index, std::move(now_ms));
}

void live_view::update(std::size_t index, const std::function<void(row&)>& change, bool now) {
    const std::lock_guard lock(mutex_);
    if (index >= rows_.size()) return;
    change(rows_[index]);
    if (now || std::chrono::steady_clock::now() - last_draw_ >= REDRAW_EVERY) draw();
}

void live_view::finished(std::size_t index, const device_result& device) {
    update(index, [&](row& line) { line.end = device.text; }, true);
}

void live_view::tally(unsigned upgraded, unsigned failed) {
    const std::lock_guard lock(mutex_);
    footer_ = text_format("Station: %u upgraded, %u failed.", upgraded, failed);
    draw();
}

void live_view::close() {
    const std::lock_guard lock(mutex_);
    draw();
}

void live_view::draw() {
    // The lines in view: every device still running, and the newest of
    // those done.
    std::vector<const row*> shown;
    std::size_t finished_left = keep_finished_;
    for (auto it = rows_.rbegin(); it != rows_.rend(); ++it) {
        if (it->end && finished_left == 0) continue;
        if (it->end) --finished_left;
        shown.insert(shown.begin(), &*it);
    }
    std::string text;
    if (drawn_ > 0) text += text_format("\x1b[%uA", static_cast<unsigned>(drawn_));
    for (const row* line : shown) text += ERASE_LINE + live_view_text(*line) + "\n";
    if (footer_) text += ERASE_LINE + *footer_ + "\n";
    const std::size_t lines = shown.size() + (footer_ ? 1 : 0);
    // Lines left over from a longer drawing are cleared, and the cursor comes
    // back to below the new one.
    for (std::size_t extra = lines; extra < drawn_; ++extra) text += std::string(ERASE_LINE) + "\n";
    if (drawn_ > lines) text += text_format("\x1b[%uA", static_cast<unsigned>(drawn_ - lines));
    drawn_ = lines;
    last_draw_ = std::chrono::steady_clock::now();
    target_.out(text);
}

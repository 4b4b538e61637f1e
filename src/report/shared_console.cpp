#include "report/shared_console.h"

shared_console::shared_console(console_sink target) : target_(std::move(target)) {}

console_sink shared_console::sink(std::string prefix, std::size_t* run) {
    run_text* text = nullptr;
    {
        const std::lock_guard lock(mutex_);
        if (run != nullptr) *run = runs_.size();
        text = &runs_.emplace_back(run_text{std::move(prefix), {}, {}});
    }
    return {[this, text](std::string_view more) { write(*text, false, more); },
            [this, text](std::string_view more) { write(*text, true, more); }};
}

console_sink shared_console::direct() {
    return {[this](std::string_view text) {
                const std::lock_guard lock(mutex_);
                target_.out(text);
            },
            [this](std::string_view text) {
                const std::lock_guard lock(mutex_);
                target_.err(text);
            }};
}

void shared_console::write(run_text& run, bool error, std::string_view text) {
    const std::lock_guard lock(mutex_);
    // An error line ends the run's unfinished line first, as the console
    // of a run alone would show them.
    if (error && !run.out.empty()) {
        target_.out(run.prefix + run.out + "\n");
        run.out.clear();
    }
    std::string& pending = error ? run.err : run.out;
    pending += text;
    std::size_t start = 0;
    for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n', start)) {
        // A run's empty lines only space out its own console; among the
        // lines of other runs they tell nothing.
        if (end > start || run.prefix.empty())
            (error ? target_.err : target_.out)(run.prefix + pending.substr(start, end + 1 - start));
        start = end + 1;
    }
    pending.erase(0, start);
}

void shared_console::end_lines(run_text& run) {
    if (!run.out.empty()) target_.out(run.prefix + run.out + "\n");
    if (!run.err.empty()) target_.err(run.prefix + run.err + "\n");
    run.out.clear();
    run.err.clear();
}

void shared_console::flush() {
    const std::lock_guard lock(mutex_);
    for (run_text& run : runs_) end_lines(run);
}

void shared_console::flush(std::size_t run) {
    const std::lock_guard lock(mutex_);
    if (run < runs_.size()) end_lines(runs_[run]);
}

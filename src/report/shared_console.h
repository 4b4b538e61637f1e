// One console for several runs at once: each run's text reaches it in whole
// lines that start with the run's prefix, never mixed inside a line with
// another run's, and standard output's and standard error's lines in the
// order they were completed.
#pragma once

#include <deque>
#include <mutex>
#include <string>

#include "report/console_reporter.h"

class shared_console {
public:
    explicit shared_console(console_sink target);

    // A sink for one run, safe to use from its own thread: its lines start
    // with `prefix` ("" for none). It must not outlive the console.
    // `run` receives the run's number, for flush.
    console_sink sink(std::string prefix, std::size_t* run = nullptr);
    // A sink whose text goes out as it comes, under the same lock: for the
    // run that has the console alone until the others start.
    console_sink direct();
    // Ends what is left of every run's unfinished lines, or of one run's.
    void flush();
    void flush(std::size_t run);

private:
    struct run_text {
        std::string prefix;
        std::string out;  // text after the last complete line
        std::string err;
    };
    void write(run_text& run, bool error, std::string_view text);
    void end_lines(run_text& run);

    std::mutex mutex_;
    console_sink target_;
    std::deque<run_text> runs_;  // a deque: each sink keeps its element's address
};

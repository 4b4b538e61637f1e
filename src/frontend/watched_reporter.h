// A reporter that passes every event on and keeps what the summary of a run
// on several devices tells of it: the path taken and the last error.
#pragma once

#include <optional>
#include <string>

#include "report/reporter.h"

class watched_reporter final : public reporter {
public:
    explicit watched_reporter(reporter& inner) : inner_(inner) {}

    const std::optional<run_path>& path() const { return path_; }
    // The last error's text, on one line without its "ERROR: "; "" when none.
    const std::string& error_text() const { return error_; }

    void start(std::span<char* const> argv) override { inner_.start(argv); }
    void say(std::string_view text) override { inner_.say(text); }
    void device(const usb_device_identity& device, run_path path) override {
        path_ = path;
        inner_.device(device, path);
    }
    void listed(const listed_device& entry) override { inner_.listed(entry); }
    void phase_begin(phase step, std::string_view detail) override { inner_.phase_begin(step, detail); }
    void progress(phase step, std::uint64_t done, std::uint64_t total) override {
        inner_.progress(step, done, total);
    }
    void poll(phase step) override { inner_.poll(step); }
    void phase_end(phase step, const outcome& result) override { inner_.phase_end(step, result); }
    void waited(bool back, std::uint16_t product_id, std::optional<std::uint16_t> release) override {
        inner_.waited(back, product_id, release);
    }
    void info(info_kind kind, std::string_view text, std::int64_t value) override { inner_.info(kind, text, value); }
    void peer(const link_peer& peer) override { inner_.peer(peer); }
    void notice(std::string_view text) override { inner_.notice(text); }
    void hint(std::string_view text) override { inner_.hint(text); }
    void error(const error_report& report) override;
    void finished(const device_result& device) override { inner_.finished(device); }
    void summary(std::span<const device_result> devices) override { inner_.summary(devices); }
    void tally(unsigned upgraded, unsigned failed) override { inner_.tally(upgraded, failed); }
    void result(const outcome& result, int exit_status) override { inner_.result(result, exit_status); }

private:
    reporter& inner_;
    std::optional<run_path> path_;
    std::string error_;
};

// JSON Lines: one object per event on one line, for scripts and production
// lines. The schema is documented in docs/json.md; JSON_SCHEMA names its
// version and grows when a field changes meaning or goes away.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "report/console_reporter.h"
#include "report/reporter.h"

inline constexpr int JSON_SCHEMA = 1;

class json_reporter final : public reporter {
public:
    // Lines go to the sink's standard output.
    explicit json_reporter(std::string version, console_sink sink = console_streams());

    void start(std::span<char* const> argv) override;
    void say(std::string_view text) override;
    void device(const usb_device_identity& device, run_path path) override;
    void listed(const listed_device& entry) override;
    void phase_begin(phase step, std::string_view detail) override;
    void progress(phase step, std::uint64_t done, std::uint64_t total) override;
    void poll(phase step) override;
    void phase_end(phase step, const outcome& result) override;
    void waited(bool back, std::uint16_t product_id, std::optional<std::uint16_t> release) override;
    void info(info_kind kind, std::string_view text, std::int64_t value) override;
    void peer(const link_peer& peer) override;
    void notice(std::string_view text) override;
    void hint(std::string_view text) override;
    void error(const error_report& report) override;
    void finished(const device_result& device) override;
    void summary(std::span<const device_result> devices) override;
    void tally(unsigned upgraded, unsigned failed) override;
    void result(const outcome& result, int exit_status) override;

    // The error and result lines of a run that Ctrl-C ends, prepared ahead
    // because the signal handler that writes them cannot build them.
    std::string interrupted_lines() const;

    // From now on every line also names `device` (its serial and location),
    // unless the event has a field of that name: a run on several devices.
    void tag(const usb_device_identity& device);

private:
    void write_line(const nlohmann::ordered_json& line);

    std::string version_;
    run_path path_ = run_path::hid;
    console_sink sink_;
    std::uint64_t last_percent_ = 0;  // progress lines are written once per percent
    bool progress_started_ = false;
    std::optional<nlohmann::ordered_json> tag_;
};

// The JSON names of the enumerations, for the events and their tests.
const char* run_path_name(run_path path);
const char* phase_name(phase step);
const char* info_kind_name(info_kind kind);

#include "frontend/several_devices.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "platform/interrupt.h"
#include "report/text_format.h"
#include "frontend/watched_reporter.h"

namespace {

// How often a station looks for devices plugged in: each is seen within a
// second.
constexpr std::uint32_t STATION_POLL_MS = 500;

struct worker {
    usb_device_identity device;
    std::string label;
    std::string key;  // the port it was found on (what a station keys plug-ins by)
    std::unique_ptr<reporter> output;
    device_result result;
    std::uint64_t end_ms = 0;  // on the worker's clock
    std::atomic<bool> done{false};
    bool collected = false;
    std::thread thread;
};

bool printable(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7F;
    });
}

// The device's name in the run's output: its serial, else its port, else its
// place in the run.
std::string label_of(const usb_device_identity& device, std::size_t number) {
    if (device.serial && printable(*device.serial)) return *device.serial;
    if (!device.location.empty()) return device.location;
    return text_format("device %u", static_cast<unsigned>(number));
}

// What tells one plug-in from another: the port, else the serial number,
// else what the system's names share.
std::string key_of(const usb_device_identity& device) {
    if (!device.location.empty()) return "port " + device.location;
    if (device.serial) return "serial " + *device.serial;
    return "instance " + device.instance;
}

void work(platform::Platform& os, device_reports& reports, const device_job& job, worker& each) {
    os.worker_begins(each.device.location);
    const std::uint64_t began = os.now_ms();
    watched_reporter watched(*each.output);
    const outcome result = run_on_device(os, watched, each.device, job);
    each.end_ms = os.now_ms();
    each.result = {each.label, each.device.serial, each.device.location, watched.path(), result,
                   result.ok() ? "OK" : watched.error_text(), each.end_ms - began};
    if (!result.ok() && each.result.text.empty()) each.result.text = failure_name(result.kind);
    os.worker_ends();
    reports.finished(*each.output, each.result);
    each.done.store(true, std::memory_order_release);
}

void start(platform::Platform& os, device_reports& reports, const device_job& job, worker& each) {
    each.output = reports.open(each.device, each.label);
    each.thread = std::thread(work, std::ref(os), std::ref(reports), std::cref(job), std::ref(each));
}

// The run's outcome: the first failure of a device, in the order they were
// found; none when no device ran.
outcome overall(const std::vector<device_result>& results) {
    if (results.empty()) return failed(failure::no_device);
    for (const device_result& each : results)
        if (!each.result.ok()) return each.result;
    return succeeded();
}

void report_none(platform::Platform& os, reporter& report) {
    report.say("No Korvix device detected\n\n");
    const std::string hint = os.inaccessible_device_hint();
    if (!hint.empty()) report.hint(hint);
}

}  // namespace

outcome run_all(platform::Platform& os, reporter& report, device_reports& reports, const device_job& job) {
    const std::vector<usb_device_identity> devices = usb_list_devices(os);
    if (devices.empty()) {
        report_none(os, report);
        return failed(failure::no_device);
    }
    std::deque<worker> workers;
    for (const usb_device_identity& device : devices) {
        worker& each = workers.emplace_back();
        each.device = device;
        each.label = label_of(device, workers.size());
    }
    for (worker& each : workers) start(os, reports, job, each);
    std::vector<device_result> results;
    for (worker& each : workers) {
        each.thread.join();
        results.push_back(each.result);
    }
    reports.close();
    report.summary(results);
    return overall(results);
}

outcome run_station(platform::Platform& os, reporter& report, device_reports& reports, const device_job& job) {
    const run_options& options = job.options;
    platform::interrupt_drain_first(STATION_CTRL_C_WARNING);
    report.say("Station: upgrading each device as it is plugged in. Ctrl-C ends it once the devices in flight "
               "are done.\n\n");
    std::deque<worker> workers;
    // The plug-ins seen: true while their device's run goes on, false once
    // it is done and until the device is seen unplugged.
    std::map<std::string, bool> plugged;
    std::vector<device_result> results;
    unsigned started = 0, upgraded = 0, failures = 0;
    std::uint64_t last_activity = os.now_ms();
    for (;;) {
        const std::uint64_t now = os.now_ms();
        std::size_t in_flight = 0;
        for (worker& each : workers) {
            if (each.collected) continue;
            // A worker's end counts once the station's clock has reached it
            // (the simulator's devices live on clocks of their own).
            if (!each.done.load(std::memory_order_acquire) || each.end_ms > now) {
                ++in_flight;
                continue;
            }
            each.thread.join();
            each.collected = true;
            each.output.reset();
            plugged[each.key] = false;
            results.push_back(each.result);
            ++(each.result.result.ok() ? upgraded : failures);
            last_activity = std::max(last_activity, each.end_ms);
            reports.tally(upgraded, failures);
        }
        const bool enough = options.count && started >= *options.count;
        if (platform::interrupt_stop_asked() || enough) {
            if (in_flight == 0) break;
        } else {
            const std::vector<usb_device_identity> attached = usb_list_devices(os);
            // A device done and no longer attached can come again.
            std::erase_if(plugged, [&](const auto& entry) {
                return !entry.second && std::none_of(attached.begin(), attached.end(), [&](const auto& device) {
                    return key_of(device) == entry.first;
                });
            });
            for (const usb_device_identity& device : attached) {
                if (options.count && started >= *options.count) break;
                const std::string key = key_of(device);
                if (plugged.contains(key)) continue;
                plugged[key] = true;
                worker& each = workers.emplace_back();
                each.device = device;
                each.key = key;
                each.label = label_of(device, workers.size());
                start(os, reports, job, each);
                ++started;
                ++in_flight;
                last_activity = now;
            }
        }
        if (options.idle_seconds && in_flight == 0 && now - last_activity >= *options.idle_seconds * 1000ull) break;
        os.sleep_ms(STATION_POLL_MS);
    }
    platform::interrupt_drain_first(nullptr);
    reports.close();
    if (results.empty()) {
        report_none(os, report);
        return failed(failure::no_device);
    }
    report.summary(results);
    return overall(results);
}

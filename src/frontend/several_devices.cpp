#include "frontend/several_devices.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <future>
#include <list>
#include <thread>
#include <vector>

#include "platform/interrupt.h"
#include "report/text_format.h"
#include "frontend/watched_reporter.h"

namespace {

// How often a station looks for devices plugged in: each is seen within a
// second.
constexpr std::uint32_t STATION_POLL_MS = 500;

// A device a station has seen plugged in: while its run goes on, and after
// it until the device is seen unplugged.
struct plug_in {
    usb_device_identity device;
    bool in_flight = true;
};

struct worker {
    usb_device_identity device;
    std::string label;
    plug_in* plug = nullptr;  // the station's plug-in it runs for
    device_output output;
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
// place in the run; with its port too where another device running has the
// same serial.
std::string label_of(const usb_device_identity& device, std::size_t number, const std::deque<worker>& others) {
    std::string label = text_format("device %u", static_cast<unsigned>(number));
    if (device.serial && printable(*device.serial))
        label = *device.serial;
    else if (!device.location.empty())
        label = device.location;
    if (std::any_of(others.begin(), others.end(),
                    [&](const worker& other) { return !other.collected && other.label == label; }))
        label += "@" + (device.location.empty() ? std::to_string(number) : device.location);
    return label;
}

// Whether `device`, as a listing found it, is that plug-in's device: the
// same port, or the rules by which a run's waits know their device. A
// device's identity read while it restarts can lack a part (its port), and
// must still not look like a new device.
bool is_plug_in(const plug_in& seen, const usb_device_identity& device) {
    if (!device.location.empty() && device.location == seen.device.location) return true;
    return usb_same_device(seen.device, device);
}

void work(platform::Platform& os, device_reports& reports, const device_job& job, worker& each,
          std::promise<void>& begun) {
    os.worker_begins(each.device.location);
    const std::uint64_t began = os.now_ms();
    begun.set_value();
    watched_reporter watched(*each.output.report);
    const outcome result = run_on_device(os, watched, each.device, job);
    each.end_ms = os.now_ms();
    each.result = {each.label, each.device.serial, each.device.location, watched.path(), result,
                   result.ok() ? "OK" : watched.error_text(), each.end_ms - began};
    if (!result.ok() && each.result.text.empty()) each.result.text = failure_name(result.kind);
    // Its end is out before the worker ends: in the simulator, the station
    // sees the device's later time only then.
    reports.finished(each.output.line, each.result);
    each.done.store(true, std::memory_order_release);
    os.worker_ends();
}

void start(platform::Platform& os, device_reports& reports, const device_job& job, worker& each) {
    each.output = reports.open(each.device, each.label);
    // The worker has told the platform it began before anything else goes
    // on: the simulator then holds its device's time apart from the rest.
    std::promise<void> begun;
    std::future<void> has_begun = begun.get_future();
    each.thread = std::thread(work, std::ref(os), std::ref(reports), std::cref(job), std::ref(each), std::ref(begun));
    has_begun.wait();
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
        const std::string label = label_of(device, workers.size() + 1, workers);
        worker& each = workers.emplace_back();
        each.device = device;
        each.label = label;
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
    std::list<plug_in> plugged;  // a list: each worker keeps its element's address
    bool weak_noticed = false;
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
            each.output.report.reset();
            each.plug->in_flight = false;
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
            std::erase_if(plugged, [&](const plug_in& seen) {
                return !seen.in_flight && std::none_of(attached.begin(), attached.end(), [&](const auto& device) {
                           return is_plug_in(seen, device);
                       });
            });
            for (const usb_device_identity& device : attached) {
                if (options.count && started >= *options.count) break;
                if (std::any_of(plugged.begin(), plugged.end(),
                                [&](const plug_in& seen) { return is_plug_in(seen, device); }))
                    continue;
                // Nothing would tell it from the next one, or from itself
                // once it restarts.
                if (usb_identity_is_weak(device)) {
                    if (!weak_noticed)
                        report.notice("NOTICE: A device has neither a serial number nor a USB location; the "
                                      "station leaves it alone.");
                    weak_noticed = true;
                    continue;
                }
                const std::string label = label_of(device, workers.size() + 1, workers);
                worker& each = workers.emplace_back();
                each.device = device;
                each.plug = &plugged.emplace_back(plug_in{device, true});
                each.label = label;
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

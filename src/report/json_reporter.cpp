#include "report/json_reporter.h"

#include <nlohmann/json.hpp>

#include "report/text_format.h"
#include "usb/usb_ids.h"

namespace {

using json = nlohmann::ordered_json;

// Texts written for the console carry its empty lines; an event holds the
// words only.
std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \n");
    return std::string(text.substr(first, last - first + 1));
}

std::string hex4(unsigned value) { return text_format("%.4x", value); }

json event(const char* name) { return json{{"event", name}}; }

json device_fields(const usb_device_identity& device) {
    json fields = event("device");
    fields["vendor_id"] = hex4(DEVICE_VENDOR_ID);
    fields["product_id"] = hex4(device.product_id);
    fields["serial"] = device.serial ? json(*device.serial) : json(nullptr);
    fields["location"] = device.location;
    fields["mode"] = device.product_id == DFU_PRODUCT_ID ? "dfu" : "run-time";
    return fields;
}

}  // namespace

const char* run_path_name(run_path path) {
    switch (path) {
        case run_path::hid: return "hid";
        case run_path::dfu: return "dfu";
        case run_path::kxp: return "kxp";
    }
    return "hid";
}

const char* phase_name(phase step) {
    switch (step) {
        case phase::upgrade: return "upgrade";
        case phase::prepare: return "prepare";
        case phase::transfer: return "transfer";
        case phase::flash: return "flash";
        case phase::detach: return "detach";
        case phase::reset: return "restart";  // as a script sees it: the device restarts
        case phase::restart: return "restart";
        case phase::wait: return "wait";
    }
    return "upgrade";
}

const char* info_kind_name(info_kind kind) {
    switch (kind) {
        case info_kind::identity: return "identity";
        case info_kind::information: return "information";
        case info_kind::flash_status: return "flash_status";
        case info_kind::flash_status_missing: return "flash_status";
        case info_kind::image_info: return "image_info";
        case info_kind::device_message: return "device_message";
        case info_kind::syserror: return "syserror";
        case info_kind::version: return "version";
    }
    return "information";
}

json_reporter::json_reporter(std::string version, console_sink sink)
    : version_(std::move(version)), sink_(std::move(sink)) {}

namespace {

// Bytes from a device that are no UTF-8 are written as U+FFFD, never refused.
std::string json_text(const json& line) { return line.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

void json_reporter::write_line(const nlohmann::ordered_json& line) {
    if (!tag_) {
        sink_.out(json_text(line) + "\n");
        return;
    }
    json tagged = line;
    for (const auto& [key, value] : tag_->items())
        if (!tagged.contains(key)) tagged[key] = value;
    sink_.out(json_text(tagged) + "\n");
}

void json_reporter::tag(const usb_device_identity& device) {
    tag_ = json{{"serial", device.serial ? json(*device.serial) : json(nullptr)}, {"location", device.location}};
}

namespace {

json device_result_fields(json line, const device_result& device) {
    line["serial"] = device.serial ? json(*device.serial) : json(nullptr);
    line["location"] = device.location;
    line["path"] = device.path ? json(run_path_name(*device.path)) : json(nullptr);
    line["ok"] = device.result.ok();
    line["failure"] = device.result.ok() ? json(nullptr) : json(failure_name(device.result.kind));
    if (device.result.code != 0) line["code"] = device.result.code;
    line["text"] = device.text;
    line["ms"] = device.ms;
    return line;
}

}  // namespace

void json_reporter::finished(const device_result& device) { write_line(device_result_fields(event("finished"), device)); }

void json_reporter::summary(std::span<const device_result> devices) {
    json line = event("summary");
    json rows = json::array();
    for (const device_result& device : devices) rows.push_back(device_result_fields(json::object(), device));
    line["devices"] = std::move(rows);
    write_line(line);
}

void json_reporter::tally(unsigned upgraded, unsigned failed) {
    json line = event("tally");
    line["upgraded"] = upgraded;
    line["failed"] = failed;
    write_line(line);
}

void json_reporter::start(std::span<char* const> argv) {
    json line = event("start");
    line["schema"] = JSON_SCHEMA;
    line["version"] = version_;
    json words = json::array();
    for (const char* word : argv)
        if (word != nullptr) words.push_back(word);
    line["argv"] = std::move(words);
    write_line(line);
}

void json_reporter::say(std::string_view /*text*/) {}

void json_reporter::device(const usb_device_identity& device, run_path path) {
    path_ = path;
    json line = device_fields(device);
    line["path"] = run_path_name(path);
    write_line(line);
}

void json_reporter::listed(const listed_device& entry) {
    json line = device_fields(entry.device);
    line["path"] = entry.path ? json(run_path_name(*entry.path)) : json(nullptr);
    if (!entry.path) line["state"] = entry.state;
    write_line(line);
}

void json_reporter::phase_begin(phase step, std::string_view detail) {
    json line = event("phase");
    line["phase"] = phase_name(step);
    line["state"] = "begin";
    if (!detail.empty()) line["detail"] = std::string(detail);
    if (step == phase::transfer) progress_started_ = false;
    write_line(line);
}

void json_reporter::progress(phase step, std::uint64_t done, std::uint64_t total) {
    const std::uint64_t percent = total == 0 ? 100 : done * 100 / total;
    if (progress_started_ && percent == last_percent_ && done != total) return;
    progress_started_ = true;
    last_percent_ = percent;
    json line = event("progress");
    line["phase"] = phase_name(step);
    line["done"] = done;
    line["total"] = total;
    write_line(line);
}

void json_reporter::poll(phase /*step*/) {}

void json_reporter::phase_end(phase step, const outcome& result) {
    json line = event("phase");
    line["phase"] = phase_name(step);
    line["state"] = "end";
    line["ok"] = result.ok();
    if (!result.ok()) {
        line["failure"] = failure_name(result.kind);
        if (result.code != 0) line["code"] = result.code;
    }
    write_line(line);
}

void json_reporter::waited(bool back, std::uint16_t product_id, std::optional<std::uint16_t> release) {
    json line = event("phase");
    line["phase"] = "wait";
    line["state"] = "end";
    line["ok"] = back;
    if (back) {
        line["product_id"] = hex4(product_id);
        if (release) line["release"] = hex4(*release);
    }
    write_line(line);
}

void json_reporter::info(info_kind kind, std::string_view text, std::int64_t value) {
    json line = event("info");
    line["kind"] = info_kind_name(kind);
    switch (kind) {
        case info_kind::syserror:
            line["value"] = text_format("0x%016llx", static_cast<unsigned long long>(value));
            break;
        case info_kind::flash_status:
            // Only the native path's flash status carries a number.
            if (path_ == run_path::hid) line["status"] = value;
            line["text"] = trimmed(text);
            break;
        case info_kind::identity: line["status"] = value; [[fallthrough]];
        default: line["text"] = kind == info_kind::flash_status_missing ? json(nullptr) : json(trimmed(text));
    }
    write_line(line);
}

void json_reporter::peer(const link_peer& peer) {
    json line = event("info");
    line["kind"] = "peer";
    const auto field = [](const std::optional<std::string>& value) { return value ? json(*value) : json(nullptr); };
    line["protocol"] = field(peer.protocol);
    line["sw_version"] = field(peer.sw_version);
    line["mfg_id"] = field(peer.mfg_id);
    line["serial"] = peer.serial;
    write_line(line);
}

void json_reporter::notice(std::string_view text) {
    json line = event("notice");
    line["text"] = trimmed(text);
    write_line(line);
}

void json_reporter::hint(std::string_view text) { notice(text); }

void json_reporter::error(const error_report& report) {
    json line = event("error");
    line["failure"] = failure_name(report.result.kind);
    if (report.result.code != 0) line["code"] = report.result.code;
    line["text"] = trimmed(message_text(report));
    write_line(line);
}

std::string json_reporter::interrupted_lines() const {
    const outcome cause = failed(failure::interrupted);
    json error = event("error");
    error["failure"] = failure_name(cause.kind);
    error["text"] = "ERROR: Interrupted by Ctrl-C.";
    json line = event("result");
    line["ok"] = false;
    line["exit_status"] = 1;
    line["failure"] = failure_name(cause.kind);
    line["message"] = "Operations failed! Please retry or call tech support.";
    return json_text(error) + "\n" + json_text(line) + "\n";
}

void json_reporter::result(const outcome& result, int exit_status) {
    json line = event("result");
    line["ok"] = result.ok();
    line["exit_status"] = exit_status;
    line["failure"] = result.ok() ? json(nullptr) : json(failure_name(result.kind));
    line["message"] = result.ok() ? "Operations succeeded!" : "Operations failed! Please retry or call tech support.";
    write_line(line);
}

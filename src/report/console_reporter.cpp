#include "report/console_reporter.h"

#include <algorithm>
#include <cinttypes>

#include "report/text_format.h"
#include "usb/usb_ids.h"

namespace {

bool plain(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7F && c != '"' && c != '\\';
    });
}

std::string quoted(std::string_view text) {
    std::string quoted_text = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted_text += '\\';
            quoted_text += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            quoted_text += text_format("\\x%02x", byte);
        } else {
            quoted_text += c;
        }
    }
    return quoted_text + "\"";
}

const char* interface_line(run_path path) {
    switch (path) {
        case run_path::hid: return "flash-tool using USB HID interface\n\n";
        case run_path::dfu: return "flash-tool using USB DFU interface\n\n";
        case run_path::kxp: return "flash-tool using USB KXP interface\n\n";
    }
    return "";
}

}  // namespace

const char* interface_name(run_path path) {
    switch (path) {
        case run_path::hid: return "HID";
        case run_path::dfu: return "DFU";
        case run_path::kxp: return "KXP";
    }
    return "";
}

std::string device_serial_text(const usb_device_identity& device) {
    if (!device.no_access.empty()) return "serial unknown";
    if (!device.serial) return "no serial";
    return "serial " + (plain(*device.serial) ? *device.serial : quoted(*device.serial));
}

console_sink console_streams(std::FILE* out, std::FILE* err) {
    return {[out](std::string_view text) {
                std::fwrite(text.data(), 1, text.size(), out);
                std::fflush(out);
            },
            [out, err](std::string_view text) {
                std::fflush(out);
                std::fwrite(text.data(), 1, text.size(), err);
                std::fflush(err);
            }};
}

console_sink console_capture::sink() {
    return {[this](std::string_view text) {
                out += text;
                both += text;
            },
            [this](std::string_view text) {
                err += text;
                both += text;
            }};
}

console_reporter::console_reporter(std::string build_date, console_sink sink)
    : build_date_(std::move(build_date)), sink_(std::move(sink)) {}

void console_reporter::out(std::string_view text) {
    if (!text.empty()) sink_.out(text);
}

void console_reporter::err(std::string_view text) {
    if (!text.empty()) sink_.err(text);
}

void console_reporter::link_log(std::string_view text) {
    if (text.empty()) return;
    if (!link_line_open_) out("LOG:");
    out(text);
    link_line_open_ = text.back() != '\n';
}

void console_reporter::dots_to(std::uint64_t percent) {
    std::string dots;
    for (; dot_mark_ < percent; dot_mark_ += 10) dots += '.';
    out(dots);
}

void console_reporter::start(std::span<char* const> /*argv*/) {
    out("*************************************************\n");
    out("* Korvix Flash-Tool [Build Info: " + build_date_ + "] *\n");
    out("*************************************************\n\n");
}

void console_reporter::say(std::string_view text) { out(text); }

void console_reporter::device(const usb_device_identity& /*device*/, run_path path) {
    path_ = path;
    link_line_open_ = false;
    out(interface_line(path));
}

void console_reporter::listed(const listed_device& entry) {
    const usb_device_identity& device = entry.device;
    out(text_format("%.4x:%.4x  %-8s  %-19s  USB %-10s  %s\n", static_cast<unsigned>(DEVICE_VENDOR_ID),
                    static_cast<unsigned>(device.product_id), usb_device_mode_name(device.product_id),
                    device_serial_text(device).c_str(), device.location.empty() ? "unknown" : device.location.c_str(),
                    entry.state.c_str()));
}

void console_reporter::phase_begin(phase step, std::string_view detail) {
    const bool link = path_ == run_path::kxp;
    switch (step) {
        case phase::upgrade:
            if (!link) out("Flash process begins. Please do not power off or unplug your machine.\n");
            break;
        case phase::prepare: link_log("* Initialize     "); break;
        case phase::transfer:
            dot_mark_ = 0;
            previous_done_ = 0;
            if (link)
                link_log("* Transfer image ");
            else
                out("Transfer image: ");
            break;
        case phase::flash:
            if (link)
                link_log("* Program image  ");
            else
                out(path_ == run_path::dfu ? "\nFlashing: " : "Flashing: ");
            break;
        case phase::detach: out("Detaching " + std::string(detail) + " device\n"); break;
        case phase::reset: out("Restarting System...\n"); break;
        case phase::restart: out("\nRestarting Device!\n"); break;
        case phase::wait: out(link ? "* Wait for boot  " : "Waiting for Korvix device to appear."); break;
    }
}

void console_reporter::progress(phase step, std::uint64_t done, std::uint64_t total) {
    if (step != phase::transfer || path_ == run_path::kxp) return;
    if (path_ == run_path::hid) {
        // The native path shows, with each piece sent, how far the image
        // was before it.
        if (total > 0) dots_to(previous_done_ * 100 / total);
        previous_done_ = done;
        return;
    }
    dots_to(total == 0 ? 100 : done * 100 / total);
}

void console_reporter::poll(phase step) {
    if (step == phase::flash) {
        if (path_ == run_path::kxp)
            link_log(".");
        else
            out(".");
    } else if (step == phase::wait && path_ != run_path::kxp) {
        out(".");
    }
}

void console_reporter::phase_end(phase step, const outcome& result) {
    const bool link = path_ == run_path::kxp;
    switch (step) {
        case phase::prepare:
            if (result.ok())
                link_log("[OK]\n");
            else
                out("ERROR:[FAIL]: Failed to prepare firmware upgrade\n");
            break;
        case phase::transfer:
        case phase::flash:
            if (link) {
                if (result.ok())
                    link_log("[OK]\n");
                else
                    out(text_format("ERROR:[FAIL %d]\n", static_cast<int>(result.code)));
            } else if (path_ == run_path::hid || (step == phase::flash && result.kind != failure::communication)) {
                // The DFU path ends the line after flashing unless a message
                // on the failed request did.
                out("\n");
            }
            break;
        default: break;
    }
}

void console_reporter::waited(bool back, std::uint16_t product_id, std::optional<std::uint16_t> release) {
    const unsigned vendor = DEVICE_VENDOR_ID;
    if (path_ == run_path::kxp) {
        if (back)
            out(text_format("[OK - %.4x:%.4x]\n", vendor, static_cast<unsigned>(product_id)));
        else
            err("[FAIL]\n");
        return;
    }
    if (!back)
        out(" [FAIL]\n");
    else if (release)
        out(text_format(" [OK - %.4x:%.4x v%.4x]\n", vendor, static_cast<unsigned>(product_id),
                        static_cast<unsigned>(*release)));
    else
        out(text_format(" [OK - %.4x:%.4x]\n", vendor, static_cast<unsigned>(product_id)));
}

void console_reporter::info(info_kind kind, std::string_view text, std::int64_t value) {
    const std::string shown(text);
    switch (kind) {
        case info_kind::identity:
            out(text_format("Device info: [%.2x] %s\n\n", static_cast<unsigned>(value), shown.c_str()));
            break;
        case info_kind::information: out(shown + "\n"); break;
        case info_kind::flash_status:
            if (path_ == run_path::dfu)
                out("\nFlash status: " + shown + "\n");
            else if (value != 0)
                out(text_format("\nFlash status: %s, %d\n", shown.c_str(), static_cast<int>(value)));
            else
                out("\nFlash OK!\n");
            break;
        case info_kind::flash_status_missing: out("\nFlash status: No status available\n\n"); break;
        case info_kind::image_info:
            out(text.empty() ? "\nImage Info: No information available\n\n" : "\nImage Info:\n" + shown + "\n");
            break;
        case info_kind::device_message:
        case info_kind::version: out(text); break;
        case info_kind::syserror:
            out(text_format("Syserror:   0x%016" PRIx64 "\n\n", static_cast<std::uint64_t>(value)));
            break;
    }
}

void console_reporter::peer(const link_peer& peer) {
    const auto shown = [](const std::optional<std::string>& value) { return value ? *value : std::string("n/a"); };
    out("\nTC information:\n");
    out("Protocol:   " + shown(peer.protocol) + "\n");
    out("SW version: " + shown(peer.sw_version) + "\n");
    out("Mfg id:     " + shown(peer.mfg_id) + "\n");
    out("Serial nbr: " + peer.serial + "\n");
}

void console_reporter::notice(std::string_view text) {
    // The link's notices come through its error printer.
    out((path_ == run_path::kxp ? "ERROR:" : "") + std::string(text) + "\n");
}

void console_reporter::hint(std::string_view text) { err(std::string(text) + "\n"); }

void console_reporter::error(const error_report& report) { err(message_text(report)); }

void console_reporter::result(const outcome& result, int /*exit_status*/) {
    if (result.ok()) {
        out("*************************\n");
        out("* Operations succeeded! *\n");
        out("*************************\n\n");
    } else {
        out("*********************************************************\n");
        out("* Operations failed! Please retry or call tech support. *\n");
        out("*********************************************************\n\n");
    }
}

namespace {

std::string seconds_text(std::uint64_t ms) { return text_format("%.1f s", static_cast<double>(ms) / 1000.0); }

}  // namespace

void console_reporter::finished(const device_result& device) {
    out(text_format("[%s] Finished: %s (%s)\n", device.label.c_str(), device.text.c_str(),
                    seconds_text(device.ms).c_str()));
}

void console_reporter::summary(std::span<const device_result> devices) {
    // Columns as wide as their widest entry.
    std::size_t label_width = 6, location_width = 8;
    for (const device_result& device : devices) {
        label_width = std::max(label_width, device.label.size());
        location_width = std::max(location_width, device.location.size());
    }
    const auto row = [&](std::string_view label, std::string_view location, std::string_view path,
                         std::string_view time, std::string_view result) {
        out(text_format("%-*.*s  %-*.*s  %-4.*s  %8.*s  %.*s\n", static_cast<int>(label_width),
                        static_cast<int>(label.size()), label.data(), static_cast<int>(location_width),
                        static_cast<int>(location.size()), location.data(), static_cast<int>(path.size()), path.data(),
                        static_cast<int>(time.size()), time.data(), static_cast<int>(result.size()), result.data()));
    };
    out("\nSummary\n=======\n");
    row("Device", "Location", "Path", "Time", "Result");
    for (const device_result& device : devices)
        row(device.label, device.location.empty() ? "unknown" : device.location,
            device.path ? interface_name(*device.path) : "-", seconds_text(device.ms), device.text);
    out("\n");
}

void console_reporter::tally(unsigned upgraded, unsigned failed) {
    out(text_format("Station: %u upgraded, %u failed.\n", upgraded, failed));
}

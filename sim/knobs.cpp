#include "sim/knobs.h"

#include <charconv>
#include <cstdio>
#include <limits>
#include <optional>
#include <type_traits>

namespace sim {
namespace {

template <typename T>
bool parse_integer(std::string_view text, T& value) {
    int base = 10;
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    long long magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    const long long result = negative ? -magnitude : magnitude;
    if (result < static_cast<long long>(std::numeric_limits<T>::min()) ||
        (result > 0 && static_cast<unsigned long long>(result) > std::numeric_limits<T>::max()))
        return false;
    value = static_cast<T>(result);
    return true;
}

bool parse_bool(std::string_view text, bool& value) {
    if (text == "1" || text == "true" || text == "yes" || text == "on") value = true;
    else if (text == "0" || text == "false" || text == "no" || text == "off") value = false;
    else return false;
    return true;
}

std::string escape(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\\') out += "\\\\";
        else if (byte < 0x20 || byte >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else out += c;
    }
    return out;
}

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// Knob builders for the field kinds SimConfig has.
// Knob builders for the field kinds SimConfig has. `field` is a generic
// accessor: [](auto& c) -> auto& { return c.member; }.
template <typename F>
Knob integer(std::string_view name, std::string_view help, F field) {
    return {name, help, [field](const SimConfig& c) { return std::to_string(+field(c)); },
            [field](SimConfig& c, std::string_view v) { return parse_integer(v, field(c)); }};
}

template <typename F>
Knob id16(std::string_view name, std::string_view help, F field) {
    return {name, help, [field](const SimConfig& c) { return hex16(field(c)); },
            [field](SimConfig& c, std::string_view v) { return parse_integer(v, field(c)); }};
}

template <typename F>
Knob flag(std::string_view name, std::string_view help, F field) {
    return {name, help, [field](const SimConfig& c) { return std::string(field(c) ? "true" : "false"); },
            [field](SimConfig& c, std::string_view v) { return parse_bool(v, field(c)); }};
}

template <typename F>
Knob text(std::string_view name, std::string_view help, F field) {
    return {name, help, [field](const SimConfig& c) { return escape(field(c)); },
            [field](SimConfig& c, std::string_view v) { return knob_unescape(v, field(c)); }};
}

// An optional value; `none_word` sets it empty.
template <typename F>
Knob optional_integer(std::string_view name, std::string_view help, std::string_view none_word, F field) {
    return {name, help,
            [field, none_word](const SimConfig& c) {
                const auto& v = field(c);
                return v ? std::to_string(+*v) : std::string(none_word);
            },
            [field, none_word](SimConfig& c, std::string_view v) {
                if (v == none_word) {
                    field(c).reset();
                    return true;
                }
                typename std::remove_reference_t<decltype(field(c))>::value_type value{};
                if (!parse_integer(v, value)) return false;
                field(c) = value;
                return true;
            }};
}

template <typename F>
Knob optional_text(std::string_view name, std::string_view help, F field) {
    return {name, help,
            [field](const SimConfig& c) {
                const auto& v = field(c);
                return v ? escape(*v) : std::string("(device's own)");
            },
            [field](SimConfig& c, std::string_view v) {
                std::string value;
                if (!knob_unescape(v, value)) return false;
                field(c) = std::move(value);
                return true;
            }};
}

// Text forms of the field types the native knobs use. An empty optional is
// spelled `none_word`.
std::string show_value(const std::string& v, std::string_view) { return escape(v); }
std::string show_value(bool v, std::string_view) { return v ? "true" : "false"; }
template <typename T>
std::string show_value(const T& v, std::string_view) {
    return std::to_string(+v);
}
template <typename T>
std::string show_value(const std::optional<T>& v, std::string_view none_word) {
    return v ? show_value(*v, none_word) : std::string(none_word);
}

bool parse_value(std::string_view text, std::string& v, std::string_view) { return knob_unescape(text, v); }
bool parse_value(std::string_view text, bool& v, std::string_view) { return parse_bool(text, v); }
template <typename T>
bool parse_value(std::string_view text, T& v, std::string_view) {
    return parse_integer(text, v);
}
template <typename T>
bool parse_value(std::string_view text, std::optional<T>& v, std::string_view none_word) {
    if (text == none_word) {
        v.reset();
        return true;
    }
    T value{};
    if (!parse_value(text, value, none_word)) return false;
    v = std::move(value);
    return true;
}

// The native protocol knobs set the touch controller's and the bridge's
// native device alike.
template <typename T>
Knob native(std::string_view name, std::string_view help, T NativeConfig::*member,
            std::string_view none_word = "actual") {
    return {name, help,
            [member, none_word](const SimConfig& c) { return show_value(c.touch.native.*member, none_word); },
            [member, none_word](SimConfig& c, std::string_view v) {
                T value{};
                if (!parse_value(v, value, none_word)) return false;
                c.touch.native.*member = value;
                c.bridge.native.*member = value;
                return true;
            }};
}

std::vector<Knob> make_table() {
    return {
        {"device", "what is attached at start: touch, bridge, dfu or none",
         [](const SimConfig& c) { return c.device; },
         [](SimConfig& c, std::string_view v) {
             c.device = std::string(v);
             return true;
         }},
        {"usb.location", "the port the device is plugged into (empty: the next free one, 1-1, 1-2, ...)",
         [](const SimConfig& c) { return c.location; },
         [](SimConfig& c, std::string_view v) {
             c.location = std::string(v);
             return true;
         }},
        flag("usb.placement", "the system reports the device's port (false: no location, as some systems)",
             [](auto& c) -> auto& { return c.port.reports_location; }),
        {"usb.token", "re-enumeration token the system gives: address (a new bus address each time) or none (as Windows)",
         [](const SimConfig& c) { return std::string(c.port.gives_token ? "address" : "none"); },
         [](SimConfig& c, std::string_view v) {
             if (v != "address" && v != "none") return false;
             c.port.gives_token = v == "address";
             return true;
         }},
        flag("usb.winusb", "the device's interfaces open through WinUSB (false: seen only through its HID interface)",
             [](auto& c) -> auto& { return c.port.winusb; }),
        {"usb.access", "whether the user may open the device: granted or denied (a node without permission)",
         [](const SimConfig& c) { return std::string(c.port.access_denied ? "denied" : "granted"); },
         [](SimConfig& c, std::string_view v) {
             if (v != "granted" && v != "denied") return false;
             c.port.access_denied = v == "denied";
             return true;
         }},
        integer("usb.arrive_ms", "the device is plugged in this many ms after the start (0: attached at start)",
                [](auto& c) -> auto& { return c.port.arrive_ms; }),
        optional_integer("usb.unplug_ms", "the device is pulled out this many ms after the start (none: never)",
                         "none", [](auto& c) -> auto& { return c.port.unplug_ms; }),
        optional_integer("usb.replug_ms", "a device pulled out is plugged back this many ms after the start (none: never)",
                         "none", [](auto& c) -> auto& { return c.port.replug_ms; }),
        optional_integer("usb.held_by", "another flash-tool, this process ID, holds the device (none: no one)", "none",
                         [](auto& c) -> auto& { return c.port.held_by; }),
        id16("touch.pid", "touch controller's run-time product ID",
             [](auto& c) -> auto& { return c.touch.product_id; }),
        id16("touch.release", "touch controller's bcdDevice",
             [](auto& c) -> auto& { return c.touch.release; }),
        integer("touch.speed", "bus speed: 1 low, 2 full, 3 high",
                              [](auto& c) -> auto& { return c.touch.speed; }),
        text("touch.serial", "touch controller's serial number string",
             [](auto& c) -> auto& { return c.touch.serial; }),
        text("touch.product", "touch controller's product string",
             [](auto& c) -> auto& { return c.touch.product; }),
        text("touch.manufacturer", "touch controller's manufacturer string",
             [](auto& c) -> auto& { return c.touch.manufacturer; }),
        integer("touch.restart_leave_ms", "after the restart command, off the bus this much later",
                               [](auto& c) -> auto& { return c.touch.restart_leave_ms; }),
        optional_integer("touch.restart_back_ms",
                                        "after the restart command, back on the bus this much later (never: stays away)",
                                        "never",
                                        [](auto& c) -> auto& { return c.touch.restart_back_ms; }),
        flag("touch.restart_to_dfu", "after the restart command the device comes back in DFU mode",
             [](auto& c) -> auto& { return c.touch.restart_to_dfu; }),
        native("native.magic", "identify magic the device sends", &NativeConfig::identify_magic),
        native("native.identify_status", "identify status byte", &NativeConfig::identify_status),
        native("native.identify_text", "identification text", &NativeConfig::identify_text),
        native("native.prepare_not_ready", "prepare polls answered 'not ready' before 'ready'",
               &NativeConfig::prepare_not_ready_polls),
        native("native.flash_busy_ms", "device time the flash takes (busy polls meanwhile)", &NativeConfig::flash_busy_ms),
        native("native.flash_status", "forced flash status, -128..127 (check: judge the image)",
               &NativeConfig::flash_status, "check"),
        native("native.flash_text", "forced flash status text (check: the verdict's own)", &NativeConfig::flash_text,
               "check"),
        native("native.chunk_count_delta", "added to the image chunk count the device reports",
               &NativeConfig::chunk_count_delta),
        native("native.info_text", "information text of read info", &NativeConfig::info_text),
        native("native.info_piece", "text bytes per read-info reply", &NativeConfig::info_piece),
        native("native.fail_set_at", "refuse the K-th set (0: never)", &NativeConfig::fail_set_at),
        native("native.fail_get_at", "refuse the K-th get (0: never)", &NativeConfig::fail_get_at),
        native("native.max_image", "image storage size in bytes", &NativeConfig::max_image),
        native("native.identify_unterminated", "identify text fills the reply with no NUL byte",
               &NativeConfig::identify_unterminated),
        native("native.info_total", "read-info total length claimed (actual: the text's length)",
               &NativeConfig::info_total),
        native("native.reply_length", "length field of every reply (actual: the data's length)",
               &NativeConfig::reply_length),
        native("native.reply_command", "command id of every reply (actual: the command's)", &NativeConfig::reply_command),
        id16("bridge.release", "bridge's bcdDevice", [](auto& c) -> auto& { return c.bridge.release; }),
        text("bridge.serial", "bridge's serial number string", [](auto& c) -> auto& { return c.bridge.serial; }),
        integer("dfu.detach_leave_ms", "after DETACH, off the bus this much later",
                               [](auto& c) -> auto& { return c.dfu.detach_leave_ms; }),
        integer("dfu.detach_back_ms", "after DETACH, enumerated again this much later",
                               [](auto& c) -> auto& { return c.dfu.detach_back_ms; }),
        flag("dfu.detach_stall", "run-time DETACH stalls (the device still detaches)",
             [](auto& c) -> auto& { return c.dfu.detach_stall; }),
        flag("dfu.detach_never_back", "after the run-time DETACH the device never comes back",
             [](auto& c) -> auto& { return c.dfu.detach_never_back; }),
        flag("dfu.detach_stays_run_time", "after the run-time DETACH the device comes back in run-time mode",
             [](auto& c) -> auto& { return c.dfu.detach_stays_run_time; }),
        flag("dfu.leave_stays_dfu", "after the DETACH that leaves DFU mode the device comes back in DFU mode",
             [](auto& c) -> auto& { return c.dfu.leave_stays_dfu; }),
        optional_text("dfu.serial", "serial number string in DFU mode (empty: none)",
                      [](auto& c) -> auto& { return c.dfu.serial; }),
        integer("dfu.manifest_ms", "device time that manifestation takes",
                               [](auto& c) -> auto& { return c.dfu.manifest_ms; }),
        optional_integer("dfu.manifest_status", "forced bStatus of manifestation (check: judge the file)",
                                       "check",
                                       [](auto& c) -> auto& { return c.dfu.manifest_status; }),
        optional_text("dfu.status_text", "forced text of the status upload",
                      [](auto& c) -> auto& { return c.dfu.status_text; }),
        optional_integer("dfu.short_block", "DNLOAD block that moves only dfu.short_count bytes (none)",
                                        "none",
                                        [](auto& c) -> auto& { return c.dfu.short_block; }),
        integer("dfu.short_count", "bytes the short DNLOAD block moves",
                               [](auto& c) -> auto& { return c.dfu.short_count; }),
        {"dfu.fail_at", "REQUEST:K stalls the K-th DFU request with that code (repeatable)",
         [](const SimConfig& c) {
             std::string out;
             for (const auto& [request, k] : c.dfu.fail_at)
                 out += (out.empty() ? "" : ",") + std::to_string(request) + ":" + std::to_string(k);
             return out.empty() ? std::string("none") : out;
         },
         [](SimConfig& c, std::string_view v) {
             const auto colon = v.find(':');
             std::uint8_t request = 0;
             unsigned k = 0;
             if (colon == std::string_view::npos || !parse_integer(v.substr(0, colon), request) ||
                 !parse_integer(v.substr(colon + 1), k))
                 return false;
             c.dfu.fail_at[request] = k;
             return true;
         }},
    };
}

// The link device parses its own knobs; their help texts state the defaults.
void add_link_knobs(std::vector<Knob>& table) {
    for (const auto& [name, help] : kxp_knob_help()) {
        const std::string_view key = name;
        table.push_back({key, help, {}, [key](SimConfig& c, std::string_view v) { return kxp_set_knob(c.kxp, key, v); }});
    }
}

}  // namespace

bool knob_unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case '\\': out += '\\'; break;
            case '0': out += '\0'; break;
            case 'x': {
                std::uint8_t byte = 0;
                if (text.size() - i < 3) return false;
                const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, byte, 16);
                if (ec != std::errc() || end != text.data() + i + 3) return false;
                out += static_cast<char>(byte);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}

const std::vector<Knob>& knob_table() {
    static const std::vector<Knob> table = [] {
        auto knobs = make_table();
        add_link_knobs(knobs);
        return knobs;
    }();
    return table;
}

bool knob_assign(SimConfig& config, std::string_view assignment, std::string& error) {
    const auto equals = assignment.find('=');
    if (equals == std::string_view::npos) {
        error = "knob setting without '=': " + std::string(assignment);
        return false;
    }
    const auto key = assignment.substr(0, equals);
    const auto value = assignment.substr(equals + 1);
    for (const auto& knob : knob_table()) {
        if (knob.name != key) continue;
        if (knob.set(config, value)) return true;
        error = "bad value for knob " + std::string(key) + ": " + std::string(value);
        return false;
    }
    error = "unknown knob: " + std::string(key);
    return false;
}

std::string knob_help() {
    const SimConfig defaults;
    std::string help;
    for (const auto& knob : knob_table()) {
        help += "  " + std::string(knob.name);
        if (knob.show) help += " (default " + knob.show(defaults) + ")";
        help += "\n";
        help += "      " + std::string(knob.help) + "\n";
    }
    return help;
}

}  // namespace sim

#include "sim/replay_recording.h"

#include <zlib.h>

#include <array>

#include "platform/trace_ops.h"

namespace sim {
namespace {

namespace trace_op = platform::trace_op;

// A recording larger than this (uncompressed) is refused: a full upgrade
// trace is a few MiB.
constexpr std::size_t MAX_RECORDING_BYTES = std::size_t{256} << 20;

enum class Need { number, text, hex, setup, texts, boolean };
enum class When { always, if_ok, if_failed };

struct Key {
    const char* name;
    Need need;
    When when = When::always;
};

struct OpKeys {
    const char* op;
    std::vector<Key> keys;
};

// What each call must carry to be compared and answered. Keys a trace of an
// older writer lacks and the tool never reads (the pipe interval, the
// interface subclass and protocol, the input and output report lengths) are
// optional and read as 0.
const std::vector<OpKeys>& op_keys() {
    static const std::vector<OpKeys> table = {
        {trace_op::NAMES, {{"names", Need::texts, When::if_ok}}},
        {trace_op::OPEN, {{"dev", Need::text}, {"handle", Need::number}}},
        {trace_op::CLOSE, {{"dev", Need::number}}},
        {trace_op::DESCRIPTOR,
         {{"dev", Need::number},
          {"type", Need::number},
          {"index", Need::number},
          {"language", Need::number},
          {"data", Need::hex, When::if_ok}}},
        {trace_op::CONTROL, {{"dev", Need::number}, {"setup", Need::setup}, {"error", Need::text, When::if_failed}}},
        {trace_op::READ_PIPE,
         {{"dev", Need::number}, {"pipe", Need::number}, {"data", Need::hex, When::if_ok},
          {"error", Need::text, When::if_failed}}},
        {trace_op::WRITE_PIPE,
         {{"dev", Need::number}, {"pipe", Need::number}, {"data", Need::hex}, {"error", Need::text, When::if_failed}}},
        {trace_op::SETTINGS,
         {{"dev", Need::number},
          {"alternate", Need::number},
          {"interface", Need::number, When::if_ok},
          {"endpoints", Need::number, When::if_ok},
          {"class", Need::number, When::if_ok}}},
        {trace_op::PIPE,
         {{"dev", Need::number},
          {"alternate", Need::number},
          {"index", Need::number},
          {"pipe", Need::number, When::if_ok},
          {"type", Need::number, When::if_ok},
          {"max_packet", Need::number, When::if_ok}}},
        {trace_op::SERIAL, {{"dev", Need::number}, {"serial", Need::text, When::if_ok}}},
        {trace_op::PLACEMENT, {{"dev", Need::number}, {"location", Need::text, When::if_ok}}},
        {trace_op::HID_PLACEMENT, {{"dev", Need::number}, {"location", Need::text, When::if_ok}}},
        {trace_op::HID_LIST, {{"paths", Need::texts, When::if_ok}}},
        {trace_op::HID_OPEN, {{"dev", Need::text}, {"handle", Need::number}}},
        {trace_op::HID_CLOSE, {{"dev", Need::number}}},
        {trace_op::HID_ATTRIBUTES,
         {{"dev", Need::number},
          {"vid", Need::number, When::if_ok},
          {"pid", Need::number, When::if_ok},
          {"version", Need::number, When::if_ok}}},
        {trace_op::HID_CAPS,
         {{"dev", Need::number},
          {"usage_page", Need::number, When::if_ok},
          {"usage", Need::number, When::if_ok},
          {"feature_length", Need::number, When::if_ok}}},
        {trace_op::GET_FEATURE, {{"dev", Need::number}, {"data", Need::hex, When::if_ok}}},
        {trace_op::SET_FEATURE, {{"dev", Need::number}, {"data", Need::hex}}},
        {trace_op::HID_SERIAL, {{"dev", Need::number}, {"serial", Need::text, When::if_ok}}},
        {trace_op::SLEEP, {{"ms", Need::number}}},
        {trace_op::QUICK_EDIT, {}},
    };
    return table;
}

const OpKeys* find_op(std::string_view op) {
    for (const auto& entry : op_keys())
        if (op == entry.op) return &entry;
    return nullptr;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_hex(const std::string& text) {
    if (text.size() % 2 != 0) return false;
    for (const char c : text)
        if (hex_digit(c) < 0) return false;
    return true;
}

bool has_kind(const TraceRecord& record, const char* key, TraceValue::Kind kind) {
    const auto found = record.find(key);
    return found != record.end() && found->second.kind == kind;
}

// Why the key is unusable; empty when it is fine.
std::string check_key(const TraceRecord& record, const Key& key) {
    const auto found = record.find(key.name);
    const std::string name = std::string("\"") + key.name + "\"";
    if (found == record.end()) return "no " + name;
    const TraceValue& value = found->second;
    switch (key.need) {
        case Need::number:
            return value.kind == TraceValue::Kind::number ? "" : name + " is not a non-negative integer";
        case Need::text: return value.kind == TraceValue::Kind::string ? "" : name + " is not a string";
        case Need::texts: return value.kind == TraceValue::Kind::strings ? "" : name + " is not a list of strings";
        case Need::boolean: return value.kind == TraceValue::Kind::boolean ? "" : name + " is not true or false";
        case Need::hex:
            return value.kind == TraceValue::Kind::string && is_hex(value.text) ? "" : name + " is not hex bytes";
        case Need::setup:
            return value.kind == TraceValue::Kind::string && value.text.size() == 16 && is_hex(value.text)
                       ? ""
                       : name + " is not 8 bytes of hex";
    }
    return name + " is unusable";
}

// Turns a parsed record into a call; false with the reason when a key it
// needs is missing or malformed. `replayed` is false for records to skip.
bool make_call(TraceRecord record, std::size_t line, ReplayCall& call, bool& replayed, std::string& error) {
    replayed = false;
    const auto op = record.find("op");
    if (op == record.end() || op->second.kind != TraceValue::Kind::string) return true;
    const OpKeys* keys = find_op(op->second.text);
    if (keys == nullptr) return true;
    std::string why = check_key(record, {"t", Need::number});
    if (why.empty()) why = check_key(record, {"ok", Need::boolean});
    const bool ok = has_kind(record, "ok", TraceValue::Kind::boolean) && record.at("ok").boolean;
    for (const Key& key : keys->keys) {
        if (!why.empty()) break;
        if ((key.when == When::if_ok && !ok) || (key.when == When::if_failed && ok)) continue;
        why = check_key(record, key);
    }
    // Keys a call carries only at times: the data of a failed control
    // transfer, a short write's count, the enumeration token.
    for (const Key& key : {Key{"data", Need::hex}, Key{"transferred", Need::number}, Key{"enumeration", Need::number}})
        if (why.empty() && record.count(key.name) != 0) why = check_key(record, key);
    if (!why.empty()) {
        error = "line " + std::to_string(line) + ": " + op->second.text + " call: " + why;
        return false;
    }
    call.line = line;
    call.op = op->second.text;
    call.t = record.at("t").number;
    call.ok = ok;
    call.fields = std::move(record);
    replayed = true;
    return true;
}

}  // namespace

bool replay_parse(std::string_view text, std::vector<ReplayCall>& calls, std::string& error) {
    calls.clear();
    std::size_t line_number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++line_number;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        TraceRecord record;
        std::string why;
        if (!trace_parse_record(line, record, why)) {
            error = "line " + std::to_string(line_number) + ": " + why;
            return false;
        }
        ReplayCall call;
        bool replayed = false;
        if (!make_call(std::move(record), line_number, call, replayed, error)) return false;
        if (replayed) calls.push_back(std::move(call));
    }
    return true;
}

bool replay_read_file(const std::string& path, std::vector<ReplayCall>& calls, std::string& error) {
    // gzread reads a file that is not gzip-compressed as it is.
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot read the recording " + path;
        return false;
    }
    std::string text;
    std::array<char, 1 << 16> chunk{};
    int got = 0;
    while ((got = gzread(file, chunk.data(), static_cast<unsigned>(chunk.size()))) > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(got));
        if (text.size() > MAX_RECORDING_BYTES) break;
    }
    int status = Z_OK;
    gzerror(file, &status);
    const bool failed = got < 0 || (status != Z_OK && status != Z_STREAM_END);
    gzclose(file);
    if (failed || text.size() > MAX_RECORDING_BYTES) {
        error = failed ? "cannot read the recording " + path + " (damaged compressed data)"
                       : "the recording " + path + " is larger than 256 MiB";
        return false;
    }
    if (!replay_parse(text, calls, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::vector<std::uint8_t> replay_bytes(const ReplayCall& call, std::string_view key) {
    std::vector<std::uint8_t> bytes;
    const auto found = call.fields.find(key);
    if (found == call.fields.end() || found->second.kind != TraceValue::Kind::string) return bytes;
    const std::string& hex = found->second.text;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = hex_digit(hex[i]);
        const int low = hex_digit(hex[i + 1]);
        if (high < 0 || low < 0) break;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return bytes;
}

}  // namespace sim

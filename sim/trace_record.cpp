#include "sim/trace_record.h"

#include <limits>

namespace sim {
namespace {

// Deeper nesting than any trace writes is refused rather than recursed into.
constexpr int MAX_DEPTH = 32;

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool object(TraceRecord& record) {
        blanks();
        if (!take('{')) return fail("not a JSON object");
        blanks();
        if (take('}')) return end();
        for (;;) {
            std::string key;
            blanks();
            if (!string(key)) return fail("a key is not a string");
            blanks();
            if (!take(':')) return fail("no ':' after key \"" + key + "\"");
            TraceValue value;
            if (!this->value(value, 1)) return false;
            record[key] = std::move(value);
            blanks();
            if (take(',')) continue;
            if (take('}')) return end();
            return fail("no ',' or '}' after key \"" + key + "\"");
        }
    }

    const std::string& error() const { return error_; }

private:
    bool end() {
        blanks();
        return at_end() || fail("text after the object");
    }

    bool value(TraceValue& value, int depth) {
        blanks();
        if (depth > MAX_DEPTH) return fail("nested too deeply");
        if (at_end()) return fail("a value is missing");
        const char c = text_[pos_];
        if (c == '"') {
            value.kind = TraceValue::Kind::string;
            return string(value.text);
        }
        if (c == '[') return array(value, depth);
        if (c == '{') return nested_object(depth);
        if (word("true") || word("false")) {
            value.kind = TraceValue::Kind::boolean;
            value.boolean = c == 't';
            return true;
        }
        if (word("null")) {
            value.kind = TraceValue::Kind::null;
            return true;
        }
        return number(value);
    }

    bool array(TraceValue& value, int depth) {
        ++pos_;
        value.kind = TraceValue::Kind::strings;
        blanks();
        if (take(']')) return true;
        for (;;) {
            TraceValue element;
            if (!this->value(element, depth + 1)) return false;
            if (element.kind == TraceValue::Kind::string) value.strings.push_back(std::move(element.text));
            else value.kind = TraceValue::Kind::other;
            blanks();
            if (take(',')) continue;
            if (take(']')) break;
            return fail("no ',' or ']' in an array");
        }
        if (value.kind != TraceValue::Kind::strings) value.strings.clear();
        return true;
    }

    bool nested_object(int depth) {
        ++pos_;
        blanks();
        if (take('}')) return true;
        for (;;) {
            std::string key;
            TraceValue ignored;
            blanks();
            if (!string(key)) return fail("a key is not a string");
            blanks();
            if (!take(':')) return fail("no ':' after key \"" + key + "\"");
            if (!value(ignored, depth + 1)) return false;
            blanks();
            if (take(',')) continue;
            if (take('}')) return true;
            return fail("no ',' or '}' in an object");
        }
    }

    // A JSON number; only a plain non-negative integer that fits 64 bits
    // keeps its value.
    bool number(TraceValue& value) {
        const std::size_t start = pos_;
        take('-');
        if (!digits()) return fail("not a JSON value");
        if (take('.') && !digits()) return fail("a number without digits after '.'");
        if (take('e') || take('E')) {
            if (!take('+')) take('-');
            if (!digits()) return fail("a number without an exponent");
        }
        const std::string_view written = text_.substr(start, pos_ - start);
        value.kind = TraceValue::Kind::other;
        std::uint64_t n = 0;
        for (const char c : written) {
            if (c < '0' || c > '9') return true;
            const auto digit = static_cast<std::uint64_t>(c - '0');
            if (n > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return true;
            n = n * 10 + digit;
        }
        value.kind = TraceValue::Kind::number;
        value.number = n;
        return true;
    }

    bool digits() {
        const std::size_t start = pos_;
        while (!at_end() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
        return pos_ > start;
    }

    // A string; \u escapes up to 00FF stand for one byte (the trace escapes
    // bytes of names that are not printable ASCII so), others become UTF-8.
    bool string(std::string& out) {
        if (!take('"')) return false;
        for (;;) {
            if (at_end()) return fail("a string does not end");
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_end()) return fail("a string does not end");
            const char e = text_[pos_++];
            switch (e) {
                case '"': case '\\': case '/': out += e; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned unit = 0;
                    if (!hex4(unit)) return fail("a bad \\u escape");
                    utf8(unit, out);
                    break;
                }
                default: return fail("a bad escape in a string");
            }
        }
    }

    bool hex4(unsigned& unit) {
        if (text_.size() - pos_ < 4) return false;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            unit <<= 4;
            if (c >= '0' && c <= '9') unit |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') unit |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') unit |= static_cast<unsigned>(c - 'A' + 10);
            else return false;
        }
        return true;
    }

    static void utf8(unsigned unit, std::string& out) {
        if (unit <= 0xFF) {
            out += static_cast<char>(unit);
        } else if (unit <= 0x7FF) {
            out += static_cast<char>(0xC0 | (unit >> 6));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (unit >> 12));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }

    bool word(std::string_view w) {
        if (text_.substr(pos_, w.size()) != w) return false;
        pos_ += w.size();
        return true;
    }
    bool take(char c) {
        if (at_end() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    void blanks() {
        while (!at_end() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n'))
            ++pos_;
    }
    bool at_end() const { return pos_ >= text_.size(); }
    bool fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return false;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string error_;
};

}  // namespace

bool trace_parse_record(std::string_view line, TraceRecord& record, std::string& error) {
    record.clear();
    Reader reader(line);
    if (reader.object(record)) return true;
    error = reader.error();
    return false;
}

}  // namespace sim

#include "platform/windows/wide_text.h"

#include <algorithm>
#include <climits>

#include "platform/windows/win32.h"

namespace platform::windows {
namespace {

wchar_t fold(wchar_t unit) { return unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - L'a' + L'A') : unit; }

bool same_nocase(wchar_t a, wchar_t b) { return fold(a) == fold(b); }

}  // namespace

std::wstring utf8_to_wide(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (units <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), units);
    return wide;
}

std::string wide_to_utf8(std::wstring_view text) {
    if (text.empty() || text.size() > INT_MAX / 3) return {};
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

bool starts_with_nocase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), same_nocase);
}

std::size_t find_nocase(std::wstring_view text, std::wstring_view part) {
    const auto found = std::search(text.begin(), text.end(), part.begin(), part.end(), same_nocase);
    return found == text.end() && !part.empty() ? std::wstring_view::npos
                                                : static_cast<std::size_t>(found - text.begin());
}

bool contains_nocase(std::wstring_view text, std::wstring_view part) {
    return find_nocase(text, part) != std::wstring_view::npos;
}

}  // namespace platform::windows

// Text at the boundary of the backend: the seam carries UTF-8, the system's
// W functions take UTF-16. Device names and instance IDs are compared without
// regard to ASCII case, as Windows compares them.
#pragma once

#include <string>
#include <string_view>

namespace platform::windows {

// Invalid input units become U+FFFD.
std::wstring utf8_to_wide(std::string_view text);
std::string wide_to_utf8(std::wstring_view text);

// ASCII letters compared without case; every other unit as it is.
bool starts_with_nocase(std::wstring_view text, std::wstring_view prefix);
// Where `part` first occurs in `text`, npos when nowhere.
std::size_t find_nocase(std::wstring_view text, std::wstring_view part);
bool contains_nocase(std::wstring_view text, std::wstring_view part);

}  // namespace platform::windows

// printf-style formatting into a std::string, for the reporters' texts.
#pragma once

#include <string>

std::string text_format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

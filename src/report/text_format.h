// printf-style formatting into a std::string, for the reporters' texts.
#pragma once

#include <string>

// MinGW's C++ library formats as C99 does (%zu, %lld), which its compiler
// checks only under the name gnu_printf.
#ifdef __MINGW32__
#define TEXT_FORMAT_CHECK __attribute__((format(gnu_printf, 1, 2)))
#else
#define TEXT_FORMAT_CHECK __attribute__((format(printf, 1, 2)))
#endif

std::string text_format(const char* pattern, ...) TEXT_FORMAT_CHECK;

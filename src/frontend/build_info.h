// The date the tool was built, as the start banner shows it.
#pragma once

#include <string>

// "Mmm d yyyy": three-letter month, day without padding, four-digit year.
const char* build_date();

// Turns a compiler date ("Mmm dd yyyy", the day padded with a blank) into the
// banner's form by dropping the padding.
std::string banner_date(const char* compiler_date);

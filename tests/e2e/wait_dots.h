// Output taken in real time differs from the simulator's in one way only:
// how often a wait loop went round, which shows as the number of dots it
// printed. This evens that out before two outputs are compared.
#pragma once

#include <string>
#include <string_view>

// Returns `text` with every run of dots on a wait line (a line starting with
// "Waiting for Korvix device to appear", "* Wait for boot" or
// "LOG:* Program image") shortened to a single dot. A line without dots
// keeps none, so a wait that printed nothing still differs from one that
// printed something. Other lines, the 10-dot progress bars among them, are
// left exactly as they are.
std::string collapse_wait_dots(std::string_view text);

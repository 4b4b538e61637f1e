// A scenario's command line names both the simulated device (--sim-* words)
// and the tool's own options. In the end-to-end test the device runs in its
// own program on the host and the tool in the guest, so the words part.
#pragma once

#include <string>
#include <vector>

struct parted_words {
    std::vector<std::string> device;  // for the device program, in order
    std::vector<std::string> tool;    // for flash-tool, in order
};

// Every word starting with "--sim-" goes to the device, and so does the word
// after a --sim-set, --sim-device or --sim-trace written without "=".
parted_words part_words(const std::vector<std::string>& args);

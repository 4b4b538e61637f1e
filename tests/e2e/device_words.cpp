#include "device_words.h"

#include <array>
#include <string_view>

namespace {

constexpr std::string_view DEVICE_PREFIX = "--sim-";
constexpr std::array<std::string_view, 3> OPTIONS_WITH_VALUE{"--sim-set", "--sim-device", "--sim-trace"};

bool takes_next_word(std::string_view word) {
    for (std::string_view option : OPTIONS_WITH_VALUE) {
        if (word == option) return true;
    }
    return false;
}

}  // namespace

parted_words part_words(const std::vector<std::string>& args) {
    parted_words parted;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.compare(0, DEVICE_PREFIX.size(), DEVICE_PREFIX) != 0) {
            parted.tool.push_back(word);
            continue;
        }
        parted.device.push_back(word);
        if (takes_next_word(word) && i + 1 < args.size()) parted.device.push_back(args[++i]);
    }
    return parted;
}

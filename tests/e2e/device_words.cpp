#include "device_words.h"

#include <string_view>

#include "sim/sim_options.h"

namespace {

constexpr std::string_view DEVICE_PREFIX = "--sim-";

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
        if (sim::sim_option_value_is_next_word(word) && i + 1 < args.size()) parted.device.push_back(args[++i]);
    }
    return parted;
}

#include "main/trace_option.h"

#include <string_view>

#include "frontend/options.h"

trace_option take_trace_option(int argc, char** argv) {
    constexpr std::string_view flag = "--trace";
    constexpr std::string_view flag_with_value = "--trace=";
    trace_option result;
    bool options_ended = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (i == 0 || options_ended) {
            result.arguments.push_back(argv[i]);
            continue;
        }
        if (argument == "--") {
            options_ended = true;
            result.arguments.push_back(argv[i]);
        } else if (argument == flag) {
            if (i + 1 >= argc) {
                result.missing_file = true;
                break;
            }
            result.file = argv[++i];
        } else if (argument.starts_with(flag_with_value)) {
            result.file = std::string(argument.substr(flag_with_value.size()));
        } else {
            result.arguments.push_back(argv[i]);
            // The value of -i or -S stays the tool's, even when it reads "--trace".
            if (option_value_is_next_word(argument) && i + 1 < argc) result.arguments.push_back(argv[++i]);
        }
    }
    result.arguments.push_back(nullptr);
    return result;
}

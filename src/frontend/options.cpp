#include "frontend/options.h"

#include <getopt.h>

#include <cstring>

namespace {

constexpr const char* SHORT_OPTIONS = "i:rdfRsnS:lhV";

constexpr option LONG_OPTIONS[] = {
    {"image", required_argument, nullptr, 'i'},
    {"read_info", no_argument, nullptr, 'r'},
    {"force_dfu", no_argument, nullptr, 'd'},
    {"enable_kxp", no_argument, nullptr, 'f'},
    {"reset", no_argument, nullptr, 'R'},
    {"skip_reset", no_argument, nullptr, 's'},
    {"non_interactive", no_argument, nullptr, 'n'},
    {"serial_number", required_argument, nullptr, 'S'},
    {"list", no_argument, nullptr, 'l'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// The option named by a long option word without its "--", taking
// unambiguous prefixes as getopt_long does; null when none or several match.
const option* long_option_named(std::string_view name) {
    const option* found = nullptr;
    for (const option& candidate : LONG_OPTIONS) {
        if (candidate.name == nullptr) break;
        const std::string_view full = candidate.name;
        if (full == name) return &candidate;
        if (!full.starts_with(name)) continue;
        if (found != nullptr) return nullptr;
        found = &candidate;
    }
    return found;
}

}  // namespace

bool option_value_is_next_word(std::string_view word) {
    if (word.starts_with("--")) {
        const std::string_view name = word.substr(2);
        if (name.empty() || name.find('=') != std::string_view::npos) return false;
        const option* named = long_option_named(name);
        return named != nullptr && named->has_arg == required_argument;
    }
    if (word.size() < 2 || word[0] != '-') return false;
    const std::string_view short_options = SHORT_OPTIONS;
    for (std::size_t i = 1; i < word.size(); ++i) {
        const std::size_t at = short_options.find(word[i]);
        if (word[i] == ':' || at == std::string_view::npos) return false;
        // An option with a value takes the rest of the word, or else the next word.
        if (at + 1 < short_options.size() && short_options[at + 1] == ':') return i + 1 == word.size();
    }
    return false;
}

parse_outcome parse_options(int argc, char** argv, run_options& options) {
#ifdef _WIN32
    // The Windows way of asking a console program for its usage.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "/?") == 0) return parse_outcome::help;
#endif
    // 0 (not 1) makes glibc's getopt forget everything about an earlier scan,
    // including a half-consumed cluster of short options.
    optind = 0;
    opterr = 1;
    for (;;) {
        const int option = getopt_long(argc, argv, SHORT_OPTIONS, LONG_OPTIONS, nullptr);
        switch (option) {
            case -1:
                // A forgotten -i before a file name must not flash the
                // built-in image instead.
                if (optind < argc) {
                    std::fprintf(stderr, "ERROR: Unexpected argument <%s>.\n", argv[optind]);
                    std::fputs("Run with -h for the options.\n", stderr);
                    return parse_outcome::bad;
                }
                return parse_outcome::run;
            case 'i': options.image_path = optarg; break;
            case 'r': options.read_info = true; break;
            case 'd': options.force_dfu = true; break;
            case 'f': options.enable_kxp = true; break;
            case 'R': options.reset = true; break;
            case 's': options.restart_after_upgrade = false; break;
            case 'n': options.non_interactive = true; break;
            case 'S': options.serial = optarg; break;
            case 'l': options.list = true; break;
            case 'h': return parse_outcome::help;
            case 'V': return parse_outcome::version;
            default: return parse_outcome::bad;
        }
    }
}

void print_usage(std::FILE* out, const char* program_name) {
    std::fprintf(out, "Bad arguments. Usage is %s [-r]\n", program_name);
    std::fputs(
        "Without options performs a firmware upgrade with the internal binary.\n"
        "\n"
        "  -i/--image <dfu_image>  Performs a firmware upgrade with the specified binary.\n"
        "  -r/--read_info          Reads diagnostic information from the device.\n"
        "  -d/--force_dfu          Force USB DFU mode.\n"
        "  -f/--enable_kxp         Enable use of USB KXP mode.\n"
        "  -R/--reset              Reset/Restart device.\n"
        "  -s/--skip_reset         Skip reset after upgrade.\n"
        "  -n/--non_interactive    Executes in non-interactive mode, i.e. does not\n"
        "                          require final user approval before application exit.\n"
        "  -S/--serial_number <serial>  Request device with serial number <serial>\n"
        "  -l/--list               Lists the attached devices and the path a run would take.\n"
        "  -h/--help               Diplays this help text.\n"
        "  -V/--version            Prints version, built-in image and backend.\n"
        "\n",
        out);
}

#include "frontend/options.h"

#include <getopt.h>

#include <array>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>

namespace {

constexpr const char* SHORT_OPTIONS = "i:rdfRsnS:p:lhV";

// getopt_long's code for the long-only --trace.
constexpr int TRACE_OPTION = 0x100;
constexpr int JSON_OPTION = 0x101;
constexpr int ALL_OPTION = 0x102;
constexpr int STATION_OPTION = 0x103;
constexpr int COUNT_OPTION = 0x104;
constexpr int IDLE_OPTION = 0x105;

// The real tool's table; the simulator's is the same without its last
// entry, --trace (it records with --sim-trace).
constexpr option LONG_OPTIONS[] = {
    {"image", required_argument, nullptr, 'i'},
    {"read_info", no_argument, nullptr, 'r'},
    {"force_dfu", no_argument, nullptr, 'd'},
    {"enable_kxp", no_argument, nullptr, 'f'},
    {"reset", no_argument, nullptr, 'R'},
    {"skip_reset", no_argument, nullptr, 's'},
    {"non_interactive", no_argument, nullptr, 'n'},
    {"serial_number", required_argument, nullptr, 'S'},
    {"path", required_argument, nullptr, 'p'},
    {"list", no_argument, nullptr, 'l'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"json", no_argument, nullptr, JSON_OPTION},
    {"all", no_argument, nullptr, ALL_OPTION},
    {"station", no_argument, nullptr, STATION_OPTION},
    {"count", required_argument, nullptr, COUNT_OPTION},
    {"idle", required_argument, nullptr, IDLE_OPTION},
    {"trace", required_argument, nullptr, TRACE_OPTION},
    {nullptr, 0, nullptr, 0},
};
constexpr std::size_t TRACE_ENTRY = std::size(LONG_OPTIONS) - 2;

constexpr auto LONG_OPTIONS_WITHOUT_TRACE = [] {
    std::array<option, std::size(LONG_OPTIONS) - 1> table{};
    for (std::size_t i = 0; i < TRACE_ENTRY; ++i) table[i] = LONG_OPTIONS[i];
    table[TRACE_ENTRY] = {nullptr, 0, nullptr, 0};
    return table;
}();

const option* long_options(option_set set) {
    return set == option_set::with_trace ? LONG_OPTIONS : LONG_OPTIONS_WITHOUT_TRACE.data();
}

// A whole positive number no larger than `most`; nothing else.
std::optional<unsigned> positive_number(const char* text, unsigned most) {
    unsigned value = 0;
    if (text == nullptr || *text == '\0') return std::nullopt;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(*c - '0');
        if (value > most) return std::nullopt;
    }
    if (value == 0) return std::nullopt;
    return value;
}

// The options that only make sense together, or not at all together; the
// error line when the command line breaks that.
const char* combination_error(const run_options& options) {
    const bool many = options.all || options.station;
    if (many && (options.serial || options.location))
        return "ERROR: --all and --station act on every device: -S/--serial_number and -p/--path do not go with them.\n";
    if (many && options.list) return "ERROR: -l/--list does not go with --all or --station.\n";
    if ((options.count || options.idle_seconds) && !options.station)
        return "ERROR: --count and --idle end a --station run; give --station too.\n";
    return nullptr;
}

// At most a day, and at most a million devices: larger is a typing error.
constexpr unsigned MOST_IDLE_SECONDS = 86400;
constexpr unsigned MOST_DEVICES = 1000000;

}  // namespace

parse_outcome parse_options(int argc, char** argv, run_options& options, option_set set, bool quiet) {
#ifdef _WIN32
    // The Windows way of asking a console program for its usage.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "/?") == 0) return parse_outcome::help;
#endif
    // 0 (not 1) makes glibc's getopt forget everything about an earlier scan,
    // including a half-consumed cluster of short options.
    optind = 0;
    opterr = quiet ? 0 : 1;
    for (;;) {
        const int option = getopt_long(argc, argv, SHORT_OPTIONS, long_options(set), nullptr);
        switch (option) {
            case -1:
                // A forgotten -i before a file name must not flash the
                // built-in image instead.
                if (optind < argc) {
                    if (quiet) return parse_outcome::bad;
                    std::fprintf(stderr, "ERROR: Unexpected argument <%s>.\n", argv[optind]);
                    std::fputs("Run with -h for the options.\n", stderr);
                    return parse_outcome::bad;
                }
                if (const char* error = combination_error(options)) {
                    if (!quiet) std::fputs(error, stderr);
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
            case 'p': options.location = optarg; break;
            case 'l': options.list = true; break;
            case 'h': return parse_outcome::help;
            case 'V': return parse_outcome::version;
            case TRACE_OPTION: options.trace_path = optarg; break;
            case JSON_OPTION:
                options.json = true;
                options.non_interactive = true;
                break;
            case ALL_OPTION: options.all = true; break;
            case STATION_OPTION: options.station = true; break;
            case COUNT_OPTION:
            case IDLE_OPTION: {
                const bool count = option == COUNT_OPTION;
                const std::optional<unsigned> value = positive_number(optarg, count ? MOST_DEVICES : MOST_IDLE_SECONDS);
                if (!value) {
                    if (!quiet)
                        std::fprintf(stderr, "ERROR: %s takes a whole number from 1 to %u, not <%s>.\n",
                                     count ? "--count" : "--idle", count ? MOST_DEVICES : MOST_IDLE_SECONDS, optarg);
                    return parse_outcome::bad;
                }
                (count ? options.count : options.idle_seconds) = value;
                break;
            }
            default: return parse_outcome::bad;
        }
    }
}

bool asks_for_json(int argc, char** argv) {
    constexpr std::string_view JSON = "--json";
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const std::string_view word = argv[i];
        if (word == "--") break;
        if (word.size() >= 3 && JSON.substr(0, word.size()) == word) return true;
    }
    return false;
}

std::string usage_text(const char* program_name, option_set set) {
    std::string text = "Bad arguments. Usage is " + std::string(program_name) + " [-r]\n";
    text +=
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
        "  -p/--path <location>    Request device at USB location <location> (as -l shows it).\n"
        "  -l/--list               Lists the attached devices and the path a run would take.\n"
        "  -h/--help               Diplays this help text.\n"
        "  -V/--version            Prints version, built-in image and backend.\n"
        "  --json                  Reports in JSON Lines on standard output instead of text.\n"
        "  --all                   Acts on every attached device at once.\n"
        "  --station               Keeps running: upgrades each device as it is plugged in.\n"
        "  --count <n>             Ends --station after <n> devices.\n"
        "  --idle <seconds>        Ends --station after <seconds> with no device to upgrade.\n";
    if (set == option_set::with_trace) text += "  --trace <file>          Records the run in <file> for support.\n";
    // The standard set is flash-tool-sim's, whose own options --sim-help lists.
    if (set == option_set::standard) text += "  --sim-help              Lists the simulator's options, devices and knobs.\n";
    return text + "\n";
}

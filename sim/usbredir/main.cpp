// flash-tool-usbredir: one simulated device, plugged into a virtual machine
// as a real USB device over usbredir (QEMU's usb-redir listening on a unix
// socket). The --sim-* options build the device as flash-tool-sim does; the
// device runs in real time. Ends when the machine closes the socket, or on
// SIGTERM or SIGINT.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/usb_string.h"
#include "sim/device_registry.h"
#include "sim/sim_options.h"
#include "sim/usb_descriptors.h"
#include "sim/usbredir/usbredir_device.h"

namespace {

constexpr int EXIT_USAGE = 2;
constexpr int EXIT_FAILURE_RUN = 1;
constexpr auto CONNECT_PATIENCE = std::chrono::seconds(10);
constexpr auto CONNECT_RETRY = std::chrono::milliseconds(50);
constexpr int POLL_MS = 2;

volatile std::sig_atomic_t stop_requested = 0;

// Closes the socket when main returns.
struct SocketOwner {
    explicit SocketOwner(int owned) : fd(owned) {}
    SocketOwner(const SocketOwner&) = delete;
    SocketOwner& operator=(const SocketOwner&) = delete;
    ~SocketOwner() {
        if (fd >= 0) close(fd);
    }
    int fd;
};

void request_stop(int) { stop_requested = 1; }

struct Options {
    std::string socket_path;
    std::optional<std::string> report_file;
    bool verbose = false;
};

constexpr std::string_view USAGE =
    "usage: flash-tool-usbredir --socket PATH [--report FILE] [--verbose] [--sim-device=NAME]\n"
    "                           [--sim-set KEY=VALUE ...]\n";

bool parse_options(const std::vector<char*>& args, Options& options, std::string& error) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const bool has_value = i + 1 < args.size();
        if (arg == "--socket" && has_value) {
            options.socket_path = args[++i];
        } else if (arg == "--report" && has_value) {
            options.report_file = args[++i];
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            error = "unknown or incomplete option: " + std::string(arg);
            return false;
        }
    }
    if (options.socket_path.empty()) error = "--socket PATH is required";
    return error.empty();
}

// Connects to the listening socket, retrying while it does not exist yet.
int connect_socket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const auto give_up = std::chrono::steady_clock::now() + CONNECT_PATIENCE;
    while (stop_requested == 0) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
        close(fd);
        if (std::chrono::steady_clock::now() >= give_up) return -1;
        std::this_thread::sleep_for(CONNECT_RETRY);
    }
    return -1;
}

int transfer_result(ssize_t result, bool end_is_gone) {
    if (result > 0) return static_cast<int>(result);
    if (result == 0) return end_is_gone ? -1 : 0;
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

std::string serial_of(sim::UsbDeviceModel& model) {
    const auto descriptor = model.string_descriptor(sim::STRING_SERIAL, sim::LANGUAGE_EN_US);
    if (!descriptor) return "";
    return platform::usb_string_descriptor_text(*descriptor).value_or("");
}

bool write_report(const std::string& path, const std::string& serial, const sim::UsbredirCounts& counts) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    out << "serial=" << serial << "\n"
        << "connections=" << counts.connections << "\n"
        << "resets=" << counts.resets << "\n"
        << "control_requests=" << counts.control_requests << "\n"
        << "set_reports=" << counts.set_reports << "\n"
        << "dfu_downloads=" << counts.dfu_downloads << "\n"
        << "bulk_transfers=" << counts.bulk_transfers << "\n";
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    sim::SimOptions sim_options;
    Options options;
    std::string error;
    if (!sim::sim_take_options(args, sim_options, error) || !parse_options(args, options, error)) {
        std::fprintf(stderr, "flash-tool-usbredir: %s\n%s", error.c_str(), USAGE.data());
        return EXIT_USAGE;
    }
    if (sim_options.help) {
        std::fputs(USAGE.data(), stdout);
        std::fputs(sim::sim_help_text().c_str(), stdout);
        return 0;
    }

    sim::Clock clock;
    auto models = sim::find_device_kind(sim_options.config.device)->make(sim_options.config, clock);
    if (models.size() != 1 || !sim_options.more_devices.empty()) {
        std::fprintf(stderr, "flash-tool-usbredir: --sim-device=%s is not one device\n",
                     sim_options.config.device.c_str());
        return EXIT_USAGE;
    }
    sim::UsbDeviceModel& model = *models.front();

    struct sigaction action {};
    action.sa_handler = request_stop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const int fd = connect_socket(options.socket_path);
    if (fd < 0) {
        std::fprintf(stderr, "flash-tool-usbredir: cannot connect to %s\n", options.socket_path.c_str());
        return EXIT_FAILURE_RUN;
    }
    const SocketOwner socket_owner(fd);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    sim::UsbredirIo io;
    io.read = [fd](std::span<std::uint8_t> data) { return transfer_result(read(fd, data.data(), data.size()), true); };
    io.write = [fd](std::span<const std::uint8_t> data) {
        return transfer_result(send(fd, data.data(), data.size(), MSG_NOSIGNAL), false);
    };
    if (options.verbose)
        io.log = [](const std::string& message) { std::fprintf(stderr, "flash-tool-usbredir: %s\n", message.c_str()); };

    const auto start = std::chrono::steady_clock::now();
    sim::UsbredirDevice device(model, clock, std::move(io));
    bool was_connected = false;
    while (stop_requested == 0) {
        pollfd poll_fd{fd, static_cast<short>(POLLIN | (device.wants_write() ? POLLOUT : 0)), 0};
        poll(&poll_fd, 1, POLL_MS);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (!device.pump(static_cast<std::uint64_t>(elapsed.count()))) break;
        if (options.verbose && device.connected() != was_connected) {
            was_connected = device.connected();
            std::fprintf(stderr, "flash-tool-usbredir: %llu ms: %s\n", static_cast<unsigned long long>(elapsed.count()),
                         was_connected ? "connected" : "disconnected");
        }
    }

    if (options.report_file && !write_report(*options.report_file, serial_of(model), device.counts())) {
        std::fprintf(stderr, "flash-tool-usbredir: cannot write %s\n", options.report_file->c_str());
        return EXIT_FAILURE_RUN;
    }
    return 0;
}

#include "frontend/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "firmware/builtin_image.h"

namespace {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_owner = std::unique_ptr<std::FILE, file_closer>;

// The size of the regular file at `path`, or -1.
long long regular_file_size(const char* path) {
#ifdef _WIN32
    // The 64-bit status: the plain one cannot describe a file of 2 GiB or more.
    const int fd = ::_open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) return -1;
    struct _stat64 status {};
    const bool regular = ::_fstat64(fd, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
    ::_close(fd);
#else
    // Non-blocking, so that a FIFO without a writer is refused instead of
    // waiting forever for one.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
#endif
    return regular ? static_cast<long long>(status.st_size) : -1;
}

// A zero-length file is still an image: give it a pointer that is not null.
constexpr std::uint8_t EMPTY_IMAGE[1] = {0};

}  // namespace

run_mode select_mode(const run_options& options) {
    if (options.reset) return run_mode::reset_only;
    if (options.read_info) return run_mode::info;
    if (options.image_path != nullptr) return run_mode::file_upgrade;
    return run_mode::builtin_upgrade;
}

bool read_image_file(const char* path, std::vector<std::uint8_t>& buffer) {
    buffer.clear();
    const long long size = regular_file_size(path);
    if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) return false;
    try {
        buffer.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    file_owner file(std::fopen(path, "rb"));
    if (!file) {
        buffer = {};
        return false;
    }
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::size_t got = std::fread(buffer.data() + done, 1, buffer.size() - done, file.get());
        if (got == 0) {
            buffer = {};
            return false;
        }
        done += got;
    }
    return true;
}

firmware_image image_for(run_mode mode, const std::vector<std::uint8_t>& file_buffer) {
    switch (mode) {
        case run_mode::reset_only:
        case run_mode::info: return {};
        case run_mode::file_upgrade:
            return {file_buffer.empty() ? EMPTY_IMAGE : file_buffer.data(),
                    static_cast<std::int32_t>(file_buffer.size())};
        case run_mode::builtin_upgrade: {
            const auto builtin = builtin_image();
            return {builtin.data(), static_cast<std::int32_t>(builtin.size())};
        }
    }
    return {};
}

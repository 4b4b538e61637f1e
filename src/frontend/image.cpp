#include "frontend/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
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

image_read_status from_errno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return image_read_status::not_found;
        case EISDIR: return image_read_status::directory;
        case EACCES:
        case EPERM: return image_read_status::permission_denied;
        default: return image_read_status::unreadable;
    }
}

image_read_status from_mode(bool directory, bool regular) {
    if (directory) return image_read_status::directory;
    return regular ? image_read_status::ok : image_read_status::not_regular;
}

// The size of the regular file at `path` in `size`.
image_read_status regular_file_size(const char* path, long long& size) {
#ifdef _WIN32
    // The 64-bit status: the plain one cannot describe a file of 2 GiB or
    // more. Asked before the open, which fails on a directory with EACCES.
    struct _stat64 status {};
    if (::_stat64(path, &status) != 0) return from_errno(errno);
    if ((status.st_mode & _S_IFMT) != _S_IFREG)
        return from_mode((status.st_mode & _S_IFMT) == _S_IFDIR, false);
    const int fd = ::_open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) return from_errno(errno);
    const bool regular = ::_fstat64(fd, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
    ::_close(fd);
    const bool directory = false;
#else
    // Non-blocking, so that a FIFO without a writer is refused instead of
    // waiting forever for one.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return from_errno(errno);
    struct stat status {};
    const bool known = ::fstat(fd, &status) == 0;
    ::close(fd);
    if (!known) return image_read_status::unreadable;
    const bool regular = S_ISREG(status.st_mode);
    const bool directory = S_ISDIR(status.st_mode);
#endif
    size = static_cast<long long>(status.st_size);
    return from_mode(directory, regular);
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

image_read_status read_image_file(const char* path, std::vector<std::uint8_t>& buffer) {
    buffer.clear();
    long long size = 0;
    if (const image_read_status status = regular_file_size(path, size); status != image_read_status::ok)
        return status;
    if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) return image_read_status::too_large;
    try {
        buffer.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return image_read_status::unreadable;
    }
    file_owner file(std::fopen(path, "rb"));
    if (!file) {
        buffer = {};
        return from_errno(errno);
    }
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::size_t got = std::fread(buffer.data() + done, 1, buffer.size() - done, file.get());
        if (got == 0) {
            buffer = {};
            return image_read_status::unreadable;
        }
        done += got;
    }
    return image_read_status::ok;
}

std::string image_read_error_text(image_read_status status, const char* path) {
    const std::string file = "<" + std::string(path) + ">";
    switch (status) {
        case image_read_status::ok:
        case image_read_status::not_found: break;
        case image_read_status::directory: return "ERROR: Could not read file " + file + ": it is a directory.";
        case image_read_status::permission_denied:
            return "ERROR: Could not read file " + file + ": permission denied.";
        case image_read_status::not_regular:
            return "ERROR: Could not read file " + file + ": it is not a regular file.";
        case image_read_status::too_large:
            return "ERROR: Could not read file " + file + ": it is 2 GiB or larger.";
        case image_read_status::unreadable: return "ERROR: Could not read file " + file + ".";
    }
    return "ERROR: Could not find file " + file + ".";
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

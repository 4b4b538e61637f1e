// The run's mode and its firmware image: built in, read from a file, or none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frontend/options.h"

enum class run_mode {
    reset_only,  // --reset: no image, no file read, no mode banner
    info,        // --read_info: no image
    file_upgrade,
    builtin_upgrade,
};

// First rule that applies: reset, then read_info, then an image path.
run_mode select_mode(const run_options& options);

// What a path is given. `data` is null only when there is no image (reset-only
// and information modes); a zero-length file still has a non-null pointer.
struct firmware_image {
    const std::uint8_t* data = nullptr;
    std::int32_t length = 0;
};

enum class image_read_status {
    ok,
    not_found,
    directory,
    permission_denied,
    not_regular,  // a FIFO, a device node, ...
    too_large,    // 2 GiB or more: does not fit the image's signed 32-bit length
    unreadable,   // cannot be allocated, or ends before its reported size
};

// Reads a regular file whole into `buffer` (left empty unless ok).
image_read_status read_image_file(const char* path, std::vector<std::uint8_t>& buffer);

// The error line for a file that could not be read, without its leading
// newline: "ERROR: Could not find file <PATH>." when it is missing, else
// what kept it from being read.
std::string image_read_error_text(image_read_status status, const char* path);

// The image for a path: none, the built-in one, or `file_buffer`.
firmware_image image_for(run_mode mode, const std::vector<std::uint8_t>& file_buffer);

// The firmware image compiled into the tool: a DFU file, read-only, never freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

std::span<const std::uint8_t> builtin_image();

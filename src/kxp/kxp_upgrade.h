// Firmware upgrade over an open link session.
#pragma once

#include <cstdint>
#include <span>

#include "kxp/kxp_session.h"

// How long the device may keep answering "still programming" before the
// upgrade gives up with KXP_TIMED_OUT.
inline constexpr std::uint64_t KXP_PROGRAM_TIMEOUT_MS = 5 * 60 * 1000;

// Tells the device the image size, sends the image in chunks of
// kxp_max_chunk bytes and has the device program it, reporting each step
// through the session's printers. 0 on success and when `image` is absent
// (nothing is sent then); otherwise the failing command's result.
int kxp_upgrade(kxp_session& session, const std::uint8_t* image, std::uint32_t image_size);

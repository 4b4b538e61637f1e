// Firmware upgrade over an open link session.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "kxp/kxp_session.h"
#include "report/reporter.h"

// How long the device may keep answering "still programming" before the
// upgrade gives up with KXP_TIMED_OUT.
inline constexpr std::uint64_t KXP_PROGRAM_TIMEOUT_MS = 5 * 60 * 1000;

// Tells the device the image size, sends the image in chunks of
// kxp_max_chunk bytes and has the device program it, reporting each phase.
// Success also when `image` is absent (nothing is sent then, with a notice);
// otherwise the failing command's outcome, or a communication failure with
// KXP_TIMED_OUT when the device is still programming after the bound.
outcome kxp_upgrade(kxp_session& session, std::optional<std::span<const std::uint8_t>> image, reporter& report);

// Which device path a run takes, from the attached device's product ID and
// the options.
#pragma once

#include <cstdint>
#include <functional>

enum class device_path { none, hid, dfu, kxp };

// `probe` (the native protocol probe) runs only when the decision needs it:
// not for a missing device, the bridge, or a forced DFU path.
device_path choose_path(std::uint16_t product_id, bool force_dfu, bool enable_kxp,
                        const std::function<int()>& probe);

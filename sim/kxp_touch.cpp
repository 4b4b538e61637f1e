#include "sim/kxp_touch.h"

#include <utility>

namespace sim {

KxpTouch make_kxp_touch(Clock& clock, TouchConfig config, KxpConfig link_config, TouchParts parts) {
    KxpTouch result;
    result.link = std::make_shared<KxpDevice>(std::move(link_config), &clock);
    parts.link = result.link;
    result.touch = std::make_shared<TouchController>(std::move(config), std::move(parts));
    // The controller owns the link device; the handler must not keep the
    // controller alive in turn.
    std::weak_ptr<TouchController> weak = result.touch;
    result.link->on_restart([weak](std::uint64_t now_ms) {
        const auto touch = weak.lock();
        if (!touch) return;
        touch->restart(now_ms);
    });
    return result;
}

}  // namespace sim

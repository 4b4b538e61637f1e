// A touch controller whose vendor HID interface also speaks the link: the
// link device is attached as its link peer, and a restart over the link
// makes the controller leave the bus and come back as its native restart
// does.
#pragma once

#include <memory>

#include "sim/clock.h"
#include "sim/kxp_device.h"
#include "sim/touch_controller.h"

namespace sim {

struct KxpTouch {
    std::shared_ptr<TouchController> touch;
    std::shared_ptr<KxpDevice> link;
};

KxpTouch make_kxp_touch(Clock& clock, TouchConfig config = {}, KxpConfig link_config = {},
                        TouchParts parts = {});

}  // namespace sim

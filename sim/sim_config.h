// Everything that shapes a simulator run: which device is attached at start
// and how every model behaves. Filled from defaults, then from knobs.
#pragma once

#include <string>

#include "sim/bridge.h"
#include "sim/dfu_firmware.h"
#include "sim/kxp_device.h"
#include "sim/sim_platform.h"
#include "sim/touch_controller.h"

namespace sim {

struct SimConfig {
    std::string device = "touch";
    // The port it is plugged into ("" for the next free one: "1-1", "1-2", ...).
    std::string location;
    // What the simulated system tells of it (usb.placement, usb.token,
    // usb.winusb).
    PortBehaviour port;
    // The native command protocol knobs apply to touch.native and bridge.native alike.
    TouchConfig touch;
    BridgeConfig bridge;
    DfuConfig dfu;
    KxpConfig kxp;
};

}  // namespace sim

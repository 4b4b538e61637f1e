// A simulated bus with its virtual clock, the platform a test passes to the
// code under test.
#pragma once

#include <memory>

#include "platform/platform.h"
#include "sim/clock.h"
#include "sim/sim_platform.h"
#include "sim/touch_controller.h"

namespace sim_test {

struct SimBus {
    sim::Clock clock;
    sim::SimPlatform platform{clock};

    SimBus() = default;
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    std::shared_ptr<sim::TouchController> attach_touch(sim::TouchConfig config = {}, sim::TouchParts parts = {}) {
        auto touch = std::make_shared<sim::TouchController>(std::move(config), std::move(parts));
        platform.attach(touch);
        return touch;
    }
};

}  // namespace sim_test

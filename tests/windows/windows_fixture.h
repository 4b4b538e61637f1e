// The Windows backend as the tests' platform over the Win32 test doubles,
// which are backed by a simulated bus; every test ends by checking
// that the backend passed the system no wrong argument.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_win32.h"
#include "frontend/frontend.h"
#include "platform/windows/windows_platform.h"
#include "sim/clock.h"
#include "sim/sim_platform.h"
#include "sim/touch_controller.h"

namespace windows_test {

using fake_win32::state;

class WindowsBackend : public testing::Test {
protected:
    void SetUp() override {
        fake_win32::reset(&simulator);
        windows = std::make_unique<platform::windows::WindowsPlatform>();
    }
    void TearDown() override {
        windows.reset();
        EXPECT_TRUE(state().violations.empty()) << testing::PrintToString(state().violations);
    }

    std::shared_ptr<sim::TouchController> attach_touch(sim::TouchConfig config = {}) {
        auto touch = std::make_shared<sim::TouchController>(std::move(config));
        simulator.attach(touch);
        return touch;
    }

    sim::Clock clock;
    sim::SimPlatform simulator{clock};
    std::unique_ptr<platform::windows::WindowsPlatform> windows;
};

inline int run_tool(platform::Platform& os, std::vector<std::string> arguments, std::string& output) {
    arguments.insert(arguments.begin(), "flash-tool");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    const int status = frontend_main(os, static_cast<int>(arguments.size()), argv.data());
    output = testing::internal::GetCapturedStdout();
    return status;
}

inline bool has_part(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace windows_test

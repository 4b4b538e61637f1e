// The console the Windows backend runs in is given back as it was: after
// Ctrl+C, Ctrl+Break or closing the window (whose default handling then
// still ends the process) as after a normal end; output is UTF-8 meanwhile.
#include <gtest/gtest.h>

#include <memory>

#include "windows_fixture.h"

namespace {

using fake_win32::state;
using windows_test::WindowsBackend;

constexpr DWORD USER_MODE = 0x01F7;  // quick-edit on, as consoles start

class WindowsConsoleEvent : public WindowsBackend, public testing::WithParamInterface<DWORD> {};

TEST_P(WindowsConsoleEvent, RestoresTheConsoleAndLeavesTheEventToTheSystem) {
    state().console_mode = USER_MODE;
    windows->console_clear_quick_edit();
    ASSERT_NE(*state().console_mode, USER_MODE);
    ASSERT_EQ(state().control_handlers.size(), 1u);
    EXPECT_EQ(state().control_handlers.front()(GetParam()), FALSE);
    EXPECT_EQ(*state().console_mode, USER_MODE);
}

INSTANTIATE_TEST_SUITE_P(Events, WindowsConsoleEvent,
                         testing::Values(DWORD{CTRL_C_EVENT}, DWORD{CTRL_BREAK_EVENT}, DWORD{CTRL_CLOSE_EVENT}));

TEST_F(WindowsBackend, TheControlHandlerGoesWithThePlatform) {
    state().console_mode = USER_MODE;
    windows->console_clear_quick_edit();
    windows->console_clear_quick_edit();
    EXPECT_EQ(state().control_handlers.size(), 1u);
    windows.reset();
    EXPECT_TRUE(state().control_handlers.empty());
    EXPECT_EQ(*state().console_mode, USER_MODE);
}

struct CodePageCase {
    std::optional<UINT> before;
    std::optional<UINT> running;
};

class WindowsOutputCodePage : public WindowsBackend, public testing::WithParamInterface<CodePageCase> {};

TEST_P(WindowsOutputCodePage, OutputIsUtf8WhileThePlatformLivesAndTheUsersAfterwards) {
    windows.reset();
    state().output_code_page = GetParam().before;
    windows = std::make_unique<platform::windows::WindowsPlatform>();
    EXPECT_EQ(state().output_code_page, GetParam().running);
    windows.reset();
    EXPECT_EQ(state().output_code_page, GetParam().before);
}

INSTANTIATE_TEST_SUITE_P(CodePages, WindowsOutputCodePage,
                         testing::Values(CodePageCase{850u, UINT{CP_UTF8}}, CodePageCase{437u, UINT{CP_UTF8}},
                                         CodePageCase{UINT{CP_UTF8}, UINT{CP_UTF8}},
                                         CodePageCase{std::nullopt, std::nullopt}));

}  // namespace

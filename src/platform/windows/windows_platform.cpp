// Construction, time and console of the Windows backend.
#include "platform/windows/windows_platform.h"

#include <memory>

#include "platform/native.h"

namespace platform::windows {

WindowsPlatform::WindowsPlatform() : started_ms_(GetTickCount64()) {}

void WindowsPlatform::sleep_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }

std::uint64_t WindowsPlatform::now_ms() { return GetTickCount64() - started_ms_; }

// Quick-edit mode would let a stray click in the console window freeze the
// tool's output (and the device conversation) until a key is pressed.
void WindowsPlatform::console_clear_quick_edit() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return;
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE));
}

}  // namespace platform::windows

std::unique_ptr<platform::Platform> platform_make_native() {
    return std::make_unique<platform::windows::WindowsPlatform>();
}

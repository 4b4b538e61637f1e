// The operating system's own backend of the platform seam, as used by the
// flash-tool executable (Windows: WinUSB, SetupAPI and HID; Linux: libusb and
// hidraw). Exactly one implementation is linked into a build.
#pragma once

#include <memory>

#include "platform/platform.h"

std::unique_ptr<platform::Platform> platform_make_native();

// The Windows SDK headers the backend needs, in the order they require.
// hidsdi.h and hidpi.h declare C functions without extern "C".
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// No GDI: its macros (ERROR among them) would clash with ordinary names.
#ifndef NOGDI
#define NOGDI
#endif
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <winusb.h>

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// The HID class driver's IOCTL codes (CTL_CODE comes from winioctl.h).
#include <winioctl.h>
#include <hidclass.h>
// hidclass.h brings in the COM "interface" keyword macro; nothing here
// declares COM interfaces, and the word names USB interfaces.
#undef interface

// "A device which does not exist was specified" (winerror.h of the Windows
// SDK; mingw-w64's lacks it): what a request to a device that left gives.
#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L
#endif

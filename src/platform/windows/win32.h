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

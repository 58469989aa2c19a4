// The one header of the program that includes the Windows SDK. Every other file includes this one,
// so the SDK is always seen with the same macros.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00  // declarations only: newer calls are looked up at run time
#endif

// The SDK headers must come in this order.
// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <shlwapi.h>
#include <setupapi.h>
#include <bcrypt.h>
// clang-format on

// <windows.h> for the Windows side of the platform layer. Include it after
// "platform/win_api.h": the platform's constants share their names with the
// macros defined here, so they can only be named before this header.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

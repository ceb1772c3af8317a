#pragma once

// <windows.h> as every Windows body here includes it: without the parts and
// the min/max macros that the code does not want.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

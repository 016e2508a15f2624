// The one seam between the program and the platform: the Windows SDK on
// Windows, the simulated Windows (winsim) everywhere else.
#pragma once

#ifdef _WIN32
#include <windows.h>
// setupapi.h and newdev.h need windows.h first.
#include <setupapi.h>
#include <newdev.h>
#else
#include <winsim/win32.h>
#endif

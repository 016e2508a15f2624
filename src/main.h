// Entry point: command line, log and the chosen operation.
#pragma once

#include "installinformation.h"
#include "platform.h"

#define QV_DEFAULT_LOG_FILE "QVDRAVMEL.LOG"

// Fills the record from the arguments. Returns 0 for a usable command line,
// ERROR_INVALID_PARAMETER for any fault.
DWORD QV_ParseCommandLine(int argc, char* argv[], CInstallInformation* pInstallInformation);

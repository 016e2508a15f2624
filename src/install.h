// The "/A" operation.
#pragma once

#include "installinformation.h"
#include "platform.h"

// Installs the mirror driver; returns the process exit code.
DWORD QV_Install(const CInstallInformation* pInstallInformation);

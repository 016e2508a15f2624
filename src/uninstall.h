// The "/R" operation.
#pragma once

#include "installinformation.h"
#include "platform.h"

// Removes the mirror driver, best effort; returns the process exit code.
DWORD QV_Uninstall(const CInstallInformation* pInstallInformation);

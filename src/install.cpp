#include "install.h"

// Placeholder until the device installation is built: the "/A" sequence is
// not there yet, so every installation reports ERROR_NOT_SUPPORTED.
DWORD QV_Install(const CInstallInformation* /*pInstallInformation*/) {
    return ERROR_NOT_SUPPORTED;
}

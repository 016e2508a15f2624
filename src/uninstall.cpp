#include "uninstall.h"

// Placeholder until the removal is built: the "/R" sequence is not there
// yet, so removal does nothing and succeeds.
DWORD QV_Uninstall(const CInstallInformation* /*pInstallInformation*/) {
    return ERROR_SUCCESS;
}

// The "/A" operation: device lookup, root-enumerated driver install and the
// install sequence.
#pragma once

#include "installinformation.h"
#include "platform.h"

// Exit codes of an installation besides 0.
#define QV_ERROR_FILE_MISSING ERROR_REM_NOT_LIST   // a driver file is missing
#define QV_ERROR_INSTALL_FAILED ERROR_NOT_SUPPORTED  // any other failure

// Installs the mirror driver; returns 0, QV_ERROR_FILE_MISSING or
// QV_ERROR_INSTALL_FAILED, the process exit code.
DWORD QV_Install(const CInstallInformation* pInstallInformation);
DWORD QV_RegisterMirrorDriver(const CInstallInformation* pInstallInformation);
DWORD QV_CheckMirrorFileExists(const CInstallInformation* pInstallInformation);

// Whether a present device lists the hardware ID. The last-error value tells
// the cases apart: 0 after a match, ERROR_NO_MORE_ITEMS when no device
// carries it, another code when the lookup failed.
BOOL QV_FindExistingDevice(LPCSTR pszHardwareId);

// Creates a root-enumerated device with the hardware ID (a multi-string) and
// installs the INF's driver on it; a device whose driver installation failed
// is removed again. The last-error value is 0 or the failing call's error.
BOOL QV_InstallRootEnumeratedDriver(LPCSTR pszHardwareId, LPCSTR pszInfFile, PBOOL pbRebootRequired);

// Releases newdev.dll, which the installation loads from the system folder
// when it first updates a driver.
void QV_ReleaseDriverUpdate(void);

// Clears the read-only attribute and keeps every other one; returns the
// result of SetFileAttributesA.
BOOL QV_RemoveReadOnlyAttribute(LPCSTR pszFilePath);

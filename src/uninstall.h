// The "/R" operation, and the registry lookups that find what an
// installation left behind.
#pragma once

#include "installinformation.h"
#include "platform.h"

// One video sub-key of the mirror driver, in a singly linked list whose head
// the caller owns. Entries come from LocalAlloc and go back with LocalFree.
struct QV_GUID_ENTRY {
    QV_GUID_ENTRY* pNext;
    char szGuid[48];
};

void QV_AddTail(QV_GUID_ENTRY** ppHead, QV_GUID_ENTRY* pEntry);
QV_GUID_ENTRY* QV_RemoveHead(QV_GUID_ENTRY** ppHead);

// The lookups return 0 or a Windows error code. A result buffer is emptied
// first; on ERROR_INSUFFICIENT_BUFFER its size variable receives the length
// the result needs, without the terminator (the size must exceed it).

// Full path of the system's copy of the INF.
DWORD QV_GetOEMInfFileName(LPSTR pszOemInfFile, LPDWORD pdwSize);
// The mirror's sub-keys of the video key, appended to the list.
DWORD QV_GetMirrorGuid(QV_GUID_ENTRY** ppHead);
// Path of the mirror's video key under the current hardware profile.
DWORD QV_GetAttachToDesktopPath(LPSTR pszRegPath, LPDWORD pdwSize);
// The reinstall entry's key path and the folder of its copy of the driver.
DWORD QV_GetReinstallRegPath(LPSTR pszRegPath, LPDWORD pdwRegPathSize, LPSTR pszDirectory,
                             LPDWORD pdwDirectorySize);

// Removes the mirror driver, best effort; returns the process exit code.
DWORD QV_Uninstall(const CInstallInformation* pInstallInformation);

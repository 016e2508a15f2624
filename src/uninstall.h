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
// The folder is read as the "ReinstallString" value, file name and all: its
// size variable receives the value's size in bytes, terminator included, and
// a value that does not fit gives ERROR_MORE_DATA instead.
DWORD QV_GetReinstallRegPath(LPSTR pszRegPath, LPDWORD pdwRegPathSize, LPSTR pszDirectory,
                             LPDWORD pdwDirectorySize);

// Removal of keys and files, best effort: 0 or the first error. A null root
// stands for HKEY_LOCAL_MACHINE; an empty key path (or sub-key name) is
// nothing to do, so that a failed lookup never empties a parent key.
DWORD QV_DeleteRegistry(HKEY hRootKey, LPCSTR pszKeyPath, LPCSTR pszSubKey);
DWORD QV_DeleteAllSubKey(HKEY hRootKey, LPCSTR pszKeyPath);
// Deletes a file now (a full path, or a directory and a name); with a
// directory, a file that cannot be deleted now goes at the next restart.
// A missing file is nothing to do.
DWORD QV_DeleteFile(LPCSTR pszDirectory, LPCSTR pszFile);
// Schedules a file for deletion at the next restart.
DWORD QV_RemoveFile(LPCSTR pszDirectory, LPCSTR pszFile);

// Sends every present device that lists the hardware ID the remove request.
BOOL QV_DeviceDriverUninstall(LPCSTR pszHardwareId);

// Opens, optionally stops, and deletes a service; the open's error when it
// cannot be opened, else the deletion's result.
DWORD QV_UnRegisterService(LPCSTR pszService, BOOL bStop);

// Removes everything an installation left behind, in a fixed order; always 0.
DWORD QV_UnRegisterMirrorDriver(void);

// Removes the mirror driver, best effort; returns the process exit code, 0.
DWORD QV_Uninstall(const CInstallInformation* pInstallInformation);

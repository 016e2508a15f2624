#include "uninstall.h"

#include "common.h"
#include "install.h"
#include "qvservicecontroll.h"
#include "variant.h"

#include <cstring>
#include <new>

#define QV_SOURCE_FILE "uninstall"

namespace {

const char kServiceVideoKey[] = "SYSTEM\\CurrentControlSet\\Services\\" QV_MIRROR_SERVICE "\\VIDEO";
const char kProfileVideoKey[] =
    "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\Control\\Video";
const char kDisplayClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";
const char kVideoKey[] = "SYSTEM\\CurrentControlSet\\Control\\Video";
const char kReinstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reinstall";

const char kMirrorHardwareId[] = QV_MIRROR_HARDWARE_ID;

// Reads a string value into a zero-filled buffer of *pcbData bytes; *pcbData
// receives the size read, or on ERROR_MORE_DATA the size needed. A value that
// fills the buffer without a terminator does not fit as a string either:
// ERROR_MORE_DATA. The buffer is left empty on failure.
LONG ReadStringValue(HKEY hKey, LPCSTR pszValueName, LPSTR pszBuffer, LPDWORD pcbData) {
    const DWORD cbBuffer = *pcbData;
    memset(pszBuffer, 0, cbBuffer);
    LONG lResult = RegQueryValueExA(hKey, pszValueName, NULL, NULL, reinterpret_cast<LPBYTE>(pszBuffer), pcbData);
    if (lResult == ERROR_SUCCESS && memchr(pszBuffer, '\0', cbBuffer) == NULL) {
        lResult = ERROR_MORE_DATA;
    }
    if (lResult != ERROR_SUCCESS && cbBuffer > 0) {
        pszBuffer[0] = '\0';
    }
    return lResult;
}

// Hands a finished path to the caller, whose size must exceed its length.
DWORD ReturnPath(LPCSTR pszFunction, LPCSTR pszPath, LPSTR pszResult, LPDWORD pdwSize) {
    if (QV_CopyString(pszResult, *pdwSize, pszPath)) {
        return ERROR_SUCCESS;
    }
    DWORD dwLength = static_cast<DWORD>(lstrlenA(pszPath));
    QV_TRACE(pszFunction, "Buffer size [%d] is too small. Need [%d]\n", *pdwSize, dwLength);
    *pdwSize = dwLength;
    return ERROR_INSUFFICIENT_BUFFER;
}

// The Windows folder, or with bSystemFolder the system folder; 0, or the
// error, traced under the caller's name, when the platform gives none that fits.
DWORD LookUpFolder(LPCSTR pszFunction, BOOL bSystemFolder, char (&szFolder)[MAX_PATH]) {
    UINT cchFolder =
        bSystemFolder ? GetSystemDirectoryA(szFolder, MAX_PATH) : GetWindowsDirectoryA(szFolder, MAX_PATH);
    if (cchFolder != 0 && cchFolder < MAX_PATH) {
        return ERROR_SUCCESS;
    }
    DWORD dwError = cchFolder == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    QV_TRACE(pszFunction,
             bSystemFolder ? "Error: GetSystemDirectory(Err=%d)\n" : "Error: GetWindowsDirectory(Err=%d)\n", dwError);
    QV_FormatErrorCode(dwError);
    return dwError;
}

// An INF named by the registry must be a plain file name in the INF folder.
bool IsPlainFileName(LPCSTR pszName) {
    return pszName[0] != '\0' && strpbrk(pszName, "\\/:") == NULL && strcmp(pszName, ".") != 0 &&
           strcmp(pszName, "..") != 0;
}

// A path that does not depend on a current drive or folder.
bool IsFullPath(LPCSTR pszPath) {
    const bool bDrive = ((pszPath[0] >= 'A' && pszPath[0] <= 'Z') || (pszPath[0] >= 'a' && pszPath[0] <= 'z')) &&
                        pszPath[1] == ':' && pszPath[2] == '\\';
    const bool bShare = pszPath[0] == '\\' && pszPath[1] == '\\';
    return bDrive || bShare;
}

}  // namespace

void QV_AddTail(QV_GUID_ENTRY** ppHead, QV_GUID_ENTRY* pEntry) {
    QV_GUID_ENTRY** ppLink = ppHead;
    while (*ppLink != NULL) {
        ppLink = &(*ppLink)->pNext;
    }
    *ppLink = pEntry;
}

QV_GUID_ENTRY* QV_RemoveHead(QV_GUID_ENTRY** ppHead) {
    QV_GUID_ENTRY* pEntry = *ppHead;
    if (pEntry != NULL) {
        *ppHead = pEntry->pNext;
        pEntry->pNext = NULL;
    }
    return pEntry;
}

DWORD QV_GetAttachToDesktopPath(LPSTR pszRegPath, LPDWORD pdwSize) {
    static const char kFunction[] = "QV_GetAttachToDesktopPath";
    QV_TRACE(kFunction, " --> QV_GetAttachToDesktopPath( 0x%x, 0x%x )\n", QV_TraceAddress(pszRegPath),
             QV_TraceAddress(pdwSize));
    pszRegPath[0] = '\0';

    HKEY hKey;
    LONG lResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceVideoKey, 0, KEY_READ, &hKey);
    if (lResult != ERROR_SUCCESS) {
        QV_TRACE(kFunction, "Error: RegOpenKeyEx(Err=%d) [%s]\n", lResult, kServiceVideoKey);
        QV_FormatErrorCode(static_cast<DWORD>(lResult));
        QV_TRACE(kFunction, " <-- QV_GetAttachToDesktopPath( NOT FOUND )\n");
        return static_cast<DWORD>(lResult);
    }

    char szVideoId[48];
    DWORD cbVideoId = sizeof(szVideoId);
    lResult = ReadStringValue(hKey, "VideoID", szVideoId, &cbVideoId);
    // The value names one key: an empty one, or one with a separator, would
    // make the path the video key of every adapter, or another key.
    if (lResult == ERROR_SUCCESS && (szVideoId[0] == '\0' || strchr(szVideoId, '\\') != NULL)) {
        lResult = ERROR_INVALID_DATA;
    }
    QV_TRACE(kFunction, "QVMIRROR VideoID = %s, Err=%d\n", szVideoId, lResult);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS) {
        QV_TRACE(kFunction, "Error: RegQueryValueEx(Err=%d) Value=VideoID\n", lResult);
        QV_FormatErrorCode(static_cast<DWORD>(lResult));
        return static_cast<DWORD>(lResult);
    }

    // Fits: a 47-character name after the 89-character profile key.
    char szPath[MAX_PATH];
    QV_BuildPath(szPath, kProfileVideoKey, szVideoId);
    QV_TRACE(kFunction, "Attach.ToDesktop RegPath=%s\n", szPath);

    DWORD dwResult = ReturnPath(kFunction, szPath, pszRegPath, pdwSize);
    if (dwResult == ERROR_SUCCESS) {
        QV_TRACE(kFunction, " <-- QV_GetAttachToDesktopPath(%s)\n", pszRegPath);
    }
    return dwResult;
}

DWORD QV_GetOEMInfFileName(LPSTR pszOemInfFile, LPDWORD pdwSize) {
    static const char kFunction[] = "QV_GetOEMInfFileName";
    QV_TRACE(kFunction, " --> QV_GetOEMInfFileName()\n");
    pszOemInfFile[0] = '\0';

    HKEY hClassKey;
    LONG lResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDisplayClassKey, 0, KEY_READ, &hClassKey);
    if (lResult != ERROR_SUCCESS) {
        QV_TRACE(kFunction, "Error: RegOpenKeyEx(Err=%d) [%s]\n", lResult, kDisplayClassKey);
        QV_FormatErrorCode(static_cast<DWORD>(lResult));
        return static_cast<DWORD>(lResult);
    }

    char szInfPath[MAX_PATH];
    LONG lSearch = ERROR_NO_MORE_ITEMS;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        char szSubKey[32];
        DWORD cchSubKey = sizeof(szSubKey);
        lResult = RegEnumKeyExA(hClassKey, dwIndex, szSubKey, &cchSubKey, NULL, NULL, NULL, NULL);
        if (lResult == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegEnumKeyEx(Err=%d)\n", lResult);
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            RegCloseKey(hClassKey);
            return static_cast<DWORD>(lResult);
        }

        HKEY hSubKey;
        lResult = RegOpenKeyExA(hClassKey, szSubKey, 0, KEY_READ, &hSubKey);
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "[%d] Key=[%s] Error: RegOpenKeyEx(Err=%d)\n", dwIndex, szSubKey, lResult);
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            continue;
        }

        char szMatchingDeviceId[MAX_PATH];
        DWORD cbMatchingDeviceId = sizeof(szMatchingDeviceId);
        lResult = ReadStringValue(hSubKey, "MatchingDeviceId", szMatchingDeviceId, &cbMatchingDeviceId);
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "[%d] Key=[%s] Error: RegQueryValueEx(Err=%d) Value=%s\n", dwIndex, szSubKey,
                     lResult, "MatchingDeviceId");
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            RegCloseKey(hSubKey);
            continue;
        }
        QV_TRACE(kFunction, "[%d] Key=[%s] MatchingDeviceId=[%s]\n", dwIndex, szSubKey, szMatchingDeviceId);
        if (lstrcmpiA(szMatchingDeviceId, kMirrorHardwareId) != 0) {
            RegCloseKey(hSubKey);
            continue;
        }

        // The first match ends the search, found or not.
        DWORD cbInfPath = sizeof(szInfPath);
        lSearch = ReadStringValue(hSubKey, "InfPath", szInfPath, &cbInfPath);
        if (lSearch != ERROR_SUCCESS) {
            QV_TRACE(kFunction, " Error: RegQueryValueEx(Err=%d) Value=%s\n", lSearch, "InfPath");
            QV_FormatErrorCode(static_cast<DWORD>(lSearch));
        } else if (!IsPlainFileName(szInfPath)) {
            lSearch = ERROR_INVALID_DATA;
            QV_TRACE(kFunction, " Error: InfPath is not a file name. [%s]\n", szInfPath);
        } else {
            QV_TRACE(kFunction, "InfFileName=[%s]\n", szInfPath);
        }
        RegCloseKey(hSubKey);
        break;
    }
    RegCloseKey(hClassKey);

    if (lSearch != ERROR_SUCCESS) {
        QV_TRACE(kFunction, " <-- QV_GetOEMInfFileName( NOT FOUND ) Ret=%d\n", lSearch);
        QV_FormatErrorCode(static_cast<DWORD>(lSearch));
        return static_cast<DWORD>(lSearch);
    }

    char szWindowsDirectory[MAX_PATH];
    DWORD dwResult = LookUpFolder(kFunction, FALSE, szWindowsDirectory);
    if (dwResult != ERROR_SUCCESS) {
        return dwResult;
    }

    char szPath[MAX_PATH];
    if (!QV_CopyString(szPath, szWindowsDirectory) || !QV_AppendString(szPath, "\\INF\\") ||
        !QV_AppendString(szPath, szInfPath)) {
        QV_TRACE(kFunction, "Error: Path too long. [%s\\INF\\%s]\n", szWindowsDirectory, szInfPath);
        QV_FormatErrorCode(ERROR_FILENAME_EXCED_RANGE);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    QV_TRACE(kFunction, "InfFileName=[%s]\n", szPath);

    dwResult = ReturnPath(kFunction, szPath, pszOemInfFile, pdwSize);
    if (dwResult == ERROR_SUCCESS) {
        QV_TRACE(kFunction, " <-- QV_GetOEMInfFileName( %s )\n", pszOemInfFile);
    }
    return dwResult;
}

DWORD QV_GetMirrorGuid(QV_GUID_ENTRY** ppHead) {
    static const char kFunction[] = "QV_GetMirrorGuid";
    LPCSTR pszStatus = "NOT FOUND";
    QV_TRACE(kFunction, " --> QV_GetMirrorGuid( 0x%x )\n", QV_TraceAddress(ppHead));

    HKEY hVideoKey;
    LONG lResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVideoKey, 0, KEY_READ, &hVideoKey);
    if (lResult != ERROR_SUCCESS) {
        QV_TRACE(kFunction, "Error: RegOpenKeyEx(Err=%d) [%s]\n", lResult, kVideoKey);
        QV_FormatErrorCode(static_cast<DWORD>(lResult));
        return static_cast<DWORD>(lResult);
    }

    for (DWORD dwIndex = 0;; ++dwIndex) {
        char szSubKey[MAX_PATH];
        DWORD cchSubKey = sizeof(szSubKey);
        lResult = RegEnumKeyExA(hVideoKey, dwIndex, szSubKey, &cchSubKey, NULL, NULL, NULL, NULL);
        if (lResult == ERROR_NO_MORE_ITEMS) {
            RegCloseKey(hVideoKey);
            QV_TRACE(kFunction, " <-- QV_GetMirrorGuid( %s )\n", pszStatus);
            return ERROR_SUCCESS;
        }
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegEnumKeyEx(Err=%d)\n", lResult);
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            RegCloseKey(hVideoKey);
            return static_cast<DWORD>(lResult);
        }

        // A name that does not fit an entry could not be deleted as named.
        char szGuid[sizeof(QV_GUID_ENTRY::szGuid)];
        if (!QV_CopyString(szGuid, szSubKey)) {
            QV_TRACE(kFunction, "Error: Key name too long. [%s]\n", szSubKey);
            continue;
        }
        // Fits: the name is shorter than an entry's.
        QV_AppendString(szSubKey, "\\Video");

        HKEY hKey;
        lResult = RegOpenKeyExA(hVideoKey, szSubKey, 0, KEY_READ, &hKey);
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegOpenKeyEx(Err=%d) [%s]\n", lResult, szSubKey);
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            continue;
        }

        char szService[MAX_PATH];
        DWORD cbService = sizeof(szService);
        lResult = ReadStringValue(hKey, "Service", szService, &cbService);
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegQueryValueEx(Err=%d) Value=%s\n", lResult, "Service");
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            RegCloseKey(hKey);
            continue;
        }
        RegCloseKey(hKey);
        QV_TRACE(kFunction, "[%d] Key=%s, ServiceName=[%s]\n", dwIndex, szSubKey, szService);

        if (lstrcmpiA(szService, QV_MIRROR_SERVICE) == 0) {
            QV_GUID_ENTRY* pEntry = static_cast<QV_GUID_ENTRY*>(LocalAlloc(LPTR, sizeof(QV_GUID_ENTRY)));
            if (pEntry == NULL) {
                DWORD dwError = GetLastError();
                QV_TRACE(kFunction, "Error: LocalAlloc(Err=%d)\n", dwError);
                QV_FormatErrorCode(dwError);
                continue;
            }
            memcpy(pEntry->szGuid, szGuid, sizeof(szGuid));
            QV_AddTail(ppHead, pEntry);
            pszStatus = "FOUND";
        }
    }
}

DWORD QV_GetReinstallRegPath(LPSTR pszRegPath, LPDWORD pdwRegPathSize, LPSTR pszDirectory,
                             LPDWORD pdwDirectorySize) {
    static const char kFunction[] = "QV_GetReinstallRegPath";
    QV_TRACE(kFunction, " --> QV_GetReinstallRegPath()\n");
    pszRegPath[0] = '\0';
    pszDirectory[0] = '\0';

    HKEY hReinstallKey;
    LONG lResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kReinstallKey, 0, KEY_READ, &hReinstallKey);
    if (lResult != ERROR_SUCCESS) {
        QV_TRACE(kFunction, "Error: RegOpenKeyEx(Err=%d) [%s]\n", lResult, kReinstallKey);
        QV_FormatErrorCode(static_cast<DWORD>(lResult));
        return static_cast<DWORD>(lResult);
    }

    char szSubKey[MAX_PATH];
    LONG lSearch = ERROR_NO_MORE_ITEMS;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        char szDeviceDesc[MAX_PATH];
        memset(szSubKey, 0, sizeof(szSubKey));
        memset(szDeviceDesc, 0, sizeof(szDeviceDesc));
        DWORD cchSubKey = sizeof(szSubKey);
        lResult = RegEnumKeyExA(hReinstallKey, dwIndex, szSubKey, &cchSubKey, NULL, NULL, NULL, NULL);
        if (lResult == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegEnumKeyEx(Err=%d)\n", lResult);
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            RegCloseKey(hReinstallKey);
            return static_cast<DWORD>(lResult);
        }

        HKEY hSubKey;
        lResult = RegOpenKeyExA(hReinstallKey, szSubKey, 0, KEY_READ, &hSubKey);
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegOpenKeyEx(Err=%d) [%s]\n", lResult, szSubKey);
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            continue;
        }

        DWORD cbDeviceDesc = sizeof(szDeviceDesc);
        lResult = ReadStringValue(hSubKey, "DeviceDesc", szDeviceDesc, &cbDeviceDesc);
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegQueryValueEx(Err=%d) Value=%s\n", lResult, "DeviceDesc");
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            RegCloseKey(hSubKey);
            continue;
        }
        QV_TRACE(kFunction, "[%d] Key=%s, DeviceDesc=[%s]\n", dwIndex, szSubKey, szDeviceDesc);
        if (lstrcmpiA(szDeviceDesc, QV_MIRROR_DEVICE_DESC) != 0) {
            RegCloseKey(hSubKey);
            continue;
        }

        // The first match ends the search, found or not.
        lSearch = ReadStringValue(hSubKey, "ReinstallString", pszDirectory, pdwDirectorySize);
        if (lSearch != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegQueryValueEx(Err=%d) Value=%s\n", lSearch, "ReinstallString");
            QV_FormatErrorCode(static_cast<DWORD>(lSearch));
        }
        RegCloseKey(hSubKey);
        break;
    }
    RegCloseKey(hReinstallKey);

    if (lSearch == ERROR_NO_MORE_ITEMS) {
        QV_TRACE(kFunction, " <-- QV_GetReinstallRegPath( NOT FOUND )\n");
        return ERROR_NO_MORE_ITEMS;
    }
    if (lSearch != ERROR_SUCCESS) {
        return static_cast<DWORD>(lSearch);
    }

    // The folder of the file the value names, as a full path ("X:\..." or
    // "\\server\share\..."); a relative one would depend on the current
    // folder, and without one nothing could be cleaned up safely.
    char* pszLastBackslash = strrchr(pszDirectory, '\\');
    if (!IsFullPath(pszDirectory) || pszLastBackslash == NULL || pszLastBackslash == pszDirectory) {
        QV_TRACE(kFunction, "Error: ReinstallString has no folder. [%s]\n", pszDirectory);
        QV_FormatErrorCode(ERROR_INVALID_DATA);
        pszDirectory[0] = '\0';
        return ERROR_INVALID_DATA;
    }
    *pszLastBackslash = '\0';

    char szPath[MAX_PATH];
    if (!QV_BuildPath(szPath, kReinstallKey, szSubKey)) {
        QV_TRACE(kFunction, "Error: Path too long. [%s\\%s]\n", kReinstallKey, szSubKey);
        QV_FormatErrorCode(ERROR_FILENAME_EXCED_RANGE);
        pszDirectory[0] = '\0';
        return ERROR_FILENAME_EXCED_RANGE;
    }

    DWORD dwResult = ReturnPath(kFunction, szPath, pszRegPath, pdwRegPathSize);
    if (dwResult == ERROR_SUCCESS) {
        QV_TRACE(kFunction, " <-- QV_GetReinstallRegPath( %s )\n", pszRegPath);
    }
    return dwResult;
}

namespace {

// A file to remove: a full path, or a directory and a name joined with one
// backslash; TRUE when the file exists. Empty parts name nothing; a path that
// would not fit is refused (*pdwResult), never cut into the name of another file.
bool FindFileToRemove(LPCSTR pszFunction, LPCSTR pszDirectory, LPCSTR pszFile, char (&szPath)[MAX_PATH],
                      DWORD* pdwResult) {
    *pdwResult = ERROR_SUCCESS;
    if (pszDirectory == NULL) {
        if (!QV_CopyString(szPath, pszFile)) {
            QV_TRACE(pszFunction, "Error: Path too long. [%s]\n", pszFile);
            *pdwResult = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
    } else {
        if (pszDirectory[0] == '\0' || pszFile[0] == '\0') {
            return false;
        }
        if (!QV_BuildPath(szPath, pszDirectory, pszFile)) {
            QV_TRACE(pszFunction, "Error: Path too long. [%s\\%s]\n", pszDirectory, pszFile);
            *pdwResult = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
    }
    if (QV_FileExists(szPath)) {
        return true;
    }
    // Not there is nothing to do; a search that failed otherwise leaves the
    // file, and the log says why.
    DWORD dwError = GetLastError();
    if (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND) {
        QV_TRACE(pszFunction, "Error: FindFirstFile(Err=%d)\n", dwError);
        QV_FormatErrorCode(dwError);
        *pdwResult = dwError;
    }
    return false;
}

}  // namespace

DWORD QV_DeleteAllSubKey(HKEY hRootKey, LPCSTR pszKeyPath) {
    static const char kFunction[] = "QV_DeleteAllSubKey";
    QV_TRACE(kFunction, " --> QV_DeleteAllSubKey(0x%x, %s)\n", QV_TraceAddress(hRootKey), pszKeyPath);
    if (pszKeyPath[0] == '\0') {
        return ERROR_SUCCESS;
    }
    if (hRootKey == NULL) {
        hRootKey = HKEY_LOCAL_MACHINE;
    }

    HKEY hKey;
    LONG lResult = RegOpenKeyExA(hRootKey, pszKeyPath, 0, KEY_ALL_ACCESS, &hKey);
    if (lResult != ERROR_SUCCESS) {
        QV_TRACE(kFunction, "Error: RegOpenKeyEx(Err=%d) [%s]\n", lResult, pszKeyPath);
        QV_FormatErrorCode(static_cast<DWORD>(lResult));
        return static_cast<DWORD>(lResult);
    }

    // Each pass deletes the sub-key it found, so the next one moves up to
    // the same index; one that cannot be deleted is passed over.
    DWORD dwResult = ERROR_SUCCESS;
    DWORD dwIndex = 0;
    for (;;) {
        char szSubKey[MAX_PATH];
        DWORD cchSubKey = sizeof(szSubKey);
        lResult = RegEnumKeyExA(hKey, dwIndex, szSubKey, &cchSubKey, NULL, NULL, NULL, NULL);
        if (lResult == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegEnumKeyEx(Err=%d)\n", lResult);
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            dwResult = static_cast<DWORD>(lResult);
            break;
        }

        char szChildPath[MAX_PATH];
        if (QV_BuildPath(szChildPath, pszKeyPath, szSubKey)) {
            QV_DeleteAllSubKey(hRootKey, szChildPath);
        } else {
            QV_TRACE(kFunction, "Error: Path too long. [%s\\%s]\n", pszKeyPath, szSubKey);
        }

        lResult = RegDeleteKeyA(hKey, szSubKey);
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegDeleteKey(Err=%d) Key=%s\n", lResult, szSubKey);
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            ++dwIndex;
        }
    }

    RegCloseKey(hKey);
    QV_TRACE(kFunction, " <-- QV_DeleteAllSubKey(%d)\n", dwResult);
    return dwResult;
}

DWORD QV_DeleteRegistry(HKEY hRootKey, LPCSTR pszKeyPath, LPCSTR pszSubKey) {
    static const char kFunction[] = "QV_DeleteRegistry";
    if (pszKeyPath == NULL) {
        return ERROR_INVALID_PARAMETER;
    }
    // An empty path or name is nothing to do: never the whole parent key.
    if (pszKeyPath[0] == '\0' || (pszSubKey != NULL && pszSubKey[0] == '\0')) {
        return ERROR_SUCCESS;
    }
    if (hRootKey == NULL) {
        hRootKey = HKEY_LOCAL_MACHINE;
    }

    char szFullPath[MAX_PATH];
    if (pszSubKey != NULL) {
        QV_TRACE(kFunction, " --> QV_DeleteRegistry(0x%x, %s, %s)\n", QV_TraceAddress(hRootKey), pszKeyPath, pszSubKey);
        if (!QV_BuildPath(szFullPath, pszKeyPath, pszSubKey)) {
            QV_TRACE(kFunction, "Error: Path too long. [%s\\%s]\n", pszKeyPath, pszSubKey);
            QV_TRACE(kFunction, " <-- QV_DeleteRegistry(%d)\n", ERROR_FILENAME_EXCED_RANGE);
            return ERROR_FILENAME_EXCED_RANGE;
        }
    } else {
        QV_TRACE(kFunction, " --> QV_DeleteRegistry(0x%x, %s)\n", QV_TraceAddress(hRootKey), pszKeyPath);
        if (!QV_CopyString(szFullPath, pszKeyPath)) {
            QV_TRACE(kFunction, "Error: Path too long. [%s]\n", pszKeyPath);
            QV_TRACE(kFunction, " <-- QV_DeleteRegistry(%d)\n", ERROR_FILENAME_EXCED_RANGE);
            return ERROR_FILENAME_EXCED_RANGE;
        }
    }

    DWORD dwResult = QV_DeleteAllSubKey(hRootKey, szFullPath);
    if (dwResult == ERROR_SUCCESS) {
        LONG lResult = RegDeleteKeyA(hRootKey, szFullPath);
        if (lResult != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "Error: RegDeleteKey(Err=%d) Key=%s\n", lResult, szFullPath);
            QV_FormatErrorCode(static_cast<DWORD>(lResult));
            dwResult = static_cast<DWORD>(lResult);
        }
    }
    QV_TRACE(kFunction, " <-- QV_DeleteRegistry(%d)\n", dwResult);
    return dwResult;
}

DWORD QV_RemoveFile(LPCSTR pszDirectory, LPCSTR pszFile) {
    static const char kFunction[] = "QV_RemoveFile";
    if (pszDirectory == NULL) {
        QV_TRACE(kFunction, " --> QV_RemoveFile( %s )\n", pszFile);
    } else {
        QV_TRACE(kFunction, " --> QV_RemoveFile( %s, %s )\n", pszDirectory, pszFile);
    }
    char szPath[MAX_PATH];
    DWORD dwResult;
    if (!FindFileToRemove(kFunction, pszDirectory, pszFile, szPath, &dwResult)) {
        return dwResult;
    }

    QV_RemoveReadOnlyAttribute(szPath);
    if (!MoveFileExA(szPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        DWORD dwError = GetLastError();
        QV_TRACE(kFunction, "Error: MoveFileEx(Err=%d)\n", dwError);
        QV_FormatErrorCode(dwError);
        return dwError;
    }
    return ERROR_SUCCESS;
}

DWORD QV_DeleteFile(LPCSTR pszDirectory, LPCSTR pszFile) {
    static const char kFunction[] = "QV_DeleteFile";
    if (pszDirectory == NULL) {
        QV_TRACE(kFunction, " --> QV_DeleteFile( %s )\n", pszFile);
    } else {
        QV_TRACE(kFunction, " --> QV_DeleteFile( %s, %s )\n", pszDirectory, pszFile);
    }
    char szPath[MAX_PATH];
    DWORD dwResult;
    if (!FindFileToRemove(kFunction, pszDirectory, pszFile, szPath, &dwResult)) {
        return dwResult;
    }

    QV_RemoveReadOnlyAttribute(szPath);
    if (!DeleteFileA(szPath)) {
        DWORD dwError = GetLastError();
        QV_TRACE(kFunction, "Error: DeleteFile(Err=%d)\n", dwError);
        QV_FormatErrorCode(dwError);
        if (pszDirectory != NULL) {
            QV_RemoveFile(NULL, szPath);
        }
        return dwError;
    }
    return ERROR_SUCCESS;
}

BOOL QV_DeviceDriverUninstall(LPCSTR pszHardwareId) {
    static const char kFunction[] = "QV_DeviceDriverUninstall";
    QV_TRACE(kFunction, " --> QV_DeviceDriverUninstall(HardwareID: [%s]\n", pszHardwareId);

    HDEVINFO hDevInfo = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        QV_DisplayError("GetClassDevs(All Present Devices)");
        return FALSE;
    }
    QV_TRACE(kFunction, "Enum all devices....\n");

    SP_DEVINFO_DATA devInfoData;
    memset(&devInfoData, 0, sizeof(devInfoData));
    devInfoData.cbSize = sizeof(devInfoData);

    DWORD dwError;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        if (!SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &devInfoData)) {
            dwError = GetLastError();
            if (dwError != ERROR_SUCCESS && dwError != ERROR_NO_MORE_ITEMS) {
                QV_DisplayError("EnumDeviceInfo");
            }
            break;
        }
        BYTE* pHardwareIds;
        DWORD cbHardwareIds;
        dwError = QV_ReadHardwareIds(hDevInfo, &devInfoData, &pHardwareIds, &cbHardwareIds);
        if (dwError == ERROR_INVALID_DATA) {
            continue;  // no hardware IDs
        }
        if (dwError != ERROR_SUCCESS) {
            SetLastError(dwError);
            QV_DisplayError("GetDeviceRegistryProperty");
            break;
        }
        LPCSTR pszFound = QV_FindHardwareId(pHardwareIds, cbHardwareIds, pszHardwareId);
        if (pszFound != NULL) {
            QV_TRACE(kFunction, "Found! [%s]\n", pszFound);
            if (!SetupDiCallClassInstaller(DIF_REMOVE, hDevInfo, &devInfoData)) {
                QV_DisplayError("CallClassInstaller(REMOVE)");
            }
        }
        LocalFree(pHardwareIds);
    }

    SetupDiDestroyDeviceInfoList(hDevInfo);
    QV_TRACE(kFunction, " <-- QV_DeviceDriverUninstall(search result=%s)\n",
             dwError == ERROR_SUCCESS ? "TRUE" : "FALSE");
    return dwError == ERROR_SUCCESS;
}

DWORD QV_UnRegisterService(LPCSTR pszService, BOOL bStop) {
    static const char kFunction[] = "QV_UnRegisterService";
    QV_TRACE(kFunction, "===> QV_UnRegisterService(Service=%s, Stop=%s)\n", pszService, bStop ? "TRUE" : "FALSE");

    CqvServiceControll* pService = new (std::nothrow) CqvServiceControll(pszService);
    if (pService == NULL) {
        QV_TRACE(kFunction, "ERROR: Out of memory.\n");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD dwResult = pService->qvOpenService();
    if (dwResult != ERROR_SUCCESS) {
        delete pService;
        return dwResult;
    }
    if (bStop == TRUE) {
        pService->qvStopService();
    }
    dwResult = pService->qvDeleteService();
    delete pService;

    QV_TRACE(kFunction, "<=== QV_UnRegisterService(Ret=%d\n", dwResult);
    return dwResult;
}

namespace {

// The system's copy of the INF, then its precompiled form: the same name
// with ".pnf" for its extension. A name without an extension has none.
void DeleteOemInf(char (&szOemInfFile)[MAX_PATH]) {
    if (szOemInfFile[0] == '\0') {
        return;
    }
    QV_DeleteFile(NULL, szOemInfFile);

    char* pszName = strrchr(szOemInfFile, '\\');
    pszName = pszName != NULL ? pszName + 1 : szOemInfFile;
    char* pszExtension = strrchr(pszName, '.');
    if (pszExtension == NULL) {
        return;
    }
    *pszExtension = '\0';
    if (QV_AppendString(szOemInfFile, ".pnf")) {
        QV_DeleteFile(NULL, szOemInfFile);
    }
}

}  // namespace

DWORD QV_UnRegisterMirrorDriver(void) {
    static const char kFunction[] = "QV_UnRegisterMirrorDriver";
    char szOemInfFile[MAX_PATH];
    char szAttachPath[MAX_PATH];
    char szDirectory[MAX_PATH];
    char szReinstallKey[MAX_PATH];
    char szReinstallDirectory[MAX_PATH];
    QV_GUID_ENTRY* pGuidList = NULL;
    QV_TRACE(kFunction, "===> QV_UnRegisterMirrorDriver()\n");

    DWORD dwSize = MAX_PATH;
    QV_GetOEMInfFileName(szOemInfFile, &dwSize);
    QV_GetMirrorGuid(&pGuidList);
    dwSize = MAX_PATH;
    QV_GetAttachToDesktopPath(szAttachPath, &dwSize);

    QV_DeviceDriverUninstall(kMirrorHardwareId);
    QV_UnRegisterService(QV_MIRROR_SERVICE, FALSE);

    DeleteOemInf(szOemInfFile);

    if (LookUpFolder(kFunction, TRUE, szDirectory) == ERROR_SUCCESS) {
        QV_RemoveFile(szDirectory, QV_MIRROR_DLL);
        if (QV_AppendString(szDirectory, "\\drivers")) {
            QV_DeleteFile(szDirectory, QV_MIRROR_SYS);
        }
    }

    for (QV_GUID_ENTRY* pEntry = QV_RemoveHead(&pGuidList); pEntry != NULL; pEntry = QV_RemoveHead(&pGuidList)) {
        QV_DeleteRegistry(HKEY_LOCAL_MACHINE, kVideoKey, pEntry->szGuid);
        LocalFree(pEntry);
    }

    QV_DeleteRegistry(HKEY_LOCAL_MACHINE, szAttachPath, NULL);

    DWORD dwKeySize = MAX_PATH;
    DWORD dwDirectorySize = MAX_PATH;
    if (QV_GetReinstallRegPath(szReinstallKey, &dwKeySize, szReinstallDirectory, &dwDirectorySize) ==
        ERROR_SUCCESS) {
        QV_DeleteFile(szReinstallDirectory, QV_MIRROR_DLL);
        QV_DeleteFile(szReinstallDirectory, QV_MIRROR_SYS);
        QV_DeleteFile(szReinstallDirectory, QV_MIRROR_INF);
        QV_DeleteFile(szReinstallDirectory, QV_MIRROR_PNF);
        QV_DeleteRegistry(HKEY_LOCAL_MACHINE, szReinstallKey, NULL);
    }

    if (LookUpFolder(kFunction, FALSE, szDirectory) == ERROR_SUCCESS &&
        QV_AppendString(szDirectory, "\\LastGood\\System32")) {
        QV_DeleteFile(szDirectory, QV_MIRROR_DLL);
        if (QV_AppendString(szDirectory, "\\drivers")) {
            QV_DeleteFile(szDirectory, QV_MIRROR_SYS);
        }
    }

    QV_TRACE(kFunction, "<=== QV_UnRegisterMirrorDriver()\n");
    return ERROR_SUCCESS;
}

DWORD QV_Uninstall(const CInstallInformation* pInstallInformation) {
    static const char kFunction[] = "QV_Uninstall";
    QV_TRACE(kFunction, "=====> QV_Uninstall()\n");
    QV_TRACE(kFunction, "  LogFile   = [%s]\n", pInstallInformation->GetLogFileName());
    QV_TRACE(kFunction, "  Operation = 0x%x (0x%x=INSTALL, 0x%x=UNINSTALL)\n", pInstallInformation->GetOperationType(),
             OPERATION_INSTALL, OPERATION_UNINSTALL);
    QV_UnRegisterMirrorDriver();
    QV_TRACE(kFunction, "<===== QV_Uninstall(Ret=%d)\n", ERROR_SUCCESS);
    return ERROR_SUCCESS;
}

#include "common.h"

#include "variant.h"

#include <cstdio>
#include <cstring>

#define QV_SOURCE_FILE "common"

namespace {

// Process-wide trace state: the log and fixed formatting buffers, so that
// tracing never allocates.
HANDLE g_hLogFile = INVALID_HANDLE_VALUE;
char g_szDebugMessage[4096];
char g_szDebugOutput[4096];
char g_szLogMessage[4096];
char g_szTimeStamp[64];
char g_szRecord[4096];

// Whether SetDefaultDllDirectories restricted every DLL search of the process.
bool g_bDllSearchRestricted = false;

// Length of what snprintf put into a buffer of the given size.
size_t FormattedLength(int nResult, size_t cbBuffer) {
    if (nResult < 0) {
        return 0;
    }
    return static_cast<size_t>(nResult) < cbBuffer ? static_cast<size_t>(nResult) : cbBuffer - 1;
}

// FormatMessageA with the system's text for a code, in a buffer the system
// allocates; *ppszText is NULL when no text was obtained.
DWORD LookUpSystemText(DWORD dwErrorCode, LPSTR* ppszText) {
    *ppszText = NULL;
    return FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, NULL,
                          dwErrorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                          reinterpret_cast<LPSTR>(ppszText), 0, NULL);
}

}  // namespace

void QV_DebugPrint(QV_FORMAT_STRING LPCSTR pszFormat, ...) {
    DWORD dwLastError = GetLastError();

    va_list args;
    va_start(args, pszFormat);
    wvsprintfA(g_szDebugMessage, pszFormat, args);
    va_end(args);

    // wvsprintfA wrote at most 1023 characters.
    snprintf(g_szDebugOutput, sizeof(g_szDebugOutput), "%s: %.1023s", QV_TRACE_TAG, g_szDebugMessage);
    OutputDebugStringA(g_szDebugOutput);

    SetLastError(dwLastError);
}

void QV_WriteLog(LPCSTR /*pszSourceFile*/, int nLine, LPCSTR pszFunction, QV_FORMAT_STRING LPCSTR pszFormat, ...) {
    DWORD dwLastError = GetLastError();

    va_list args;
    va_start(args, pszFormat);
    wvsprintfA(g_szLogMessage, pszFormat, args);
    va_end(args);

    SYSTEMTIME st;
    memset(g_szTimeStamp, 0, sizeof(g_szTimeStamp));
    GetLocalTime(&st);
    snprintf(g_szTimeStamp, sizeof(g_szTimeStamp), "%02d/%02d/%02d %02d:%02d:%02d:%03d", st.wYear,
             st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);

    int nRecord = snprintf(g_szRecord, sizeof(g_szRecord), "%s,%s,%d,%d,%s,%.1023s", g_szTimeStamp,
                           QV_TRACE_TAG, nLine, 0, pszFunction, g_szLogMessage);

    if (g_hLogFile != INVALID_HANDLE_VALUE) {
        DWORD dwWritten = 0;
        DWORD dwLength = static_cast<DWORD>(FormattedLength(nRecord, sizeof(g_szRecord)));
        if (!WriteFile(g_hLogFile, g_szRecord, dwLength, &dwWritten, NULL)) {
            QV_DebugPrint("Can not write to file: Error=%d\n", GetLastError());
        }
    }
    OutputDebugStringA(g_szRecord);

    SetLastError(dwLastError);
}

BOOL QV_OpenLogFile(LPCSTR pszLogFileName) {
    if (pszLogFileName == NULL || pszLogFileName[0] == '\0') {
        return TRUE;
    }
    QV_CloseLogFile();

    g_hLogFile = CreateFileA(pszLogFileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (g_hLogFile == INVALID_HANDLE_VALUE) {
        QV_DebugPrint("ERROR: CreateFile(%d)\n", GetLastError());
        return FALSE;
    }

    // Append after what earlier runs wrote. A log that cannot be positioned
    // at its end is closed rather than overwritten from its start.
    SetLastError(NO_ERROR);
    if (SetFilePointer(g_hLogFile, 0, NULL, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        QV_DebugPrint("ERROR: SetFilePointer(%d)\n", GetLastError());
        QV_CloseLogFile();
        return FALSE;
    }
    return TRUE;
}

void QV_CloseLogFile(void) {
    if (g_hLogFile != INVALID_HANDLE_VALUE) {
        CloseHandle(g_hLogFile);
        g_hLogFile = INVALID_HANDLE_VALUE;
    }
}

void QV_RestrictDllSearch(void) {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    HMODULE hKernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC pfnFound = hKernel32 != NULL ? GetProcAddress(hKernel32, "SetDefaultDllDirectories") : NULL;
    // Through void (*)(void), the type that converts to any function pointer.
    SetDefaultDllDirectoriesFunction pfnSetDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)(void)>(pfnFound));
    g_bDllSearchRestricted =
        pfnSetDefaultDllDirectories != NULL && pfnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!g_bDllSearchRestricted) {
        SetDllDirectoryA("");
    }
}

HMODULE QV_LoadSystemLibrary(LPCSTR pszFileName) {
    if (g_bDllSearchRestricted) {
        return LoadLibraryExA(pszFileName, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    char szSystemDirectory[MAX_PATH];
    UINT cchSystemDirectory = GetSystemDirectoryA(szSystemDirectory, MAX_PATH);
    if (cchSystemDirectory == 0) {
        return NULL;
    }
    char szPath[MAX_PATH];
    if (cchSystemDirectory >= MAX_PATH || !QV_BuildPath(szPath, szSystemDirectory, pszFileName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    // The DLL's own dependencies are then looked for in its folder first.
    return LoadLibraryExA(szPath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

BOOL QV_FileExists(LPCSTR pszPath) {
    WIN32_FIND_DATAA findData;
    HANDLE hFind = FindFirstFileA(pszPath, &findData);
    if (hFind == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    FindClose(hFind);
    return TRUE;
}

BOOL QV_CopyString(LPSTR pszBuffer, size_t cchBuffer, LPCSTR pszText) {
    if (cchBuffer == 0) {
        return FALSE;
    }
    pszBuffer[0] = '\0';
    return QV_AppendString(pszBuffer, cchBuffer, pszText);
}

BOOL QV_AppendString(LPSTR pszBuffer, size_t cchBuffer, LPCSTR pszText) {
    const size_t cchUsed = strlen(pszBuffer);
    const size_t cchText = strlen(pszText);
    if (cchUsed + cchText >= cchBuffer) {
        pszBuffer[0] = '\0';
        return FALSE;
    }
    memcpy(pszBuffer + cchUsed, pszText, cchText + 1);
    return TRUE;
}

DWORD QV_ReadHardwareIds(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, BYTE** ppBuffer, DWORD* pcbData) {
    BYTE* pBuffer = NULL;
    DWORD cbBuffer = 0;
    DWORD cbRequired = 0;
    DWORD dwDataType = 0;
    DWORD dwError = ERROR_SUCCESS;

    while (!SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDevInfoData, SPDRP_HARDWAREID, &dwDataType, pBuffer,
                                              cbBuffer, &cbRequired)) {
        dwError = GetLastError();
        // A buffer of the size the platform asked for must be enough; asking
        // for no more than that again would repeat forever.
        if (dwError == ERROR_INSUFFICIENT_BUFFER && cbRequired <= cbBuffer) {
            dwError = ERROR_INVALID_USER_BUFFER;
        }
        if (dwError != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
        dwError = ERROR_SUCCESS;
        if (pBuffer != NULL) {
            LocalFree(pBuffer);
        }
        pBuffer = static_cast<BYTE*>(LocalAlloc(LPTR, cbRequired));
        if (pBuffer == NULL) {
            dwError = GetLastError();
            break;
        }
        cbBuffer = cbRequired;
    }

    if (dwError != ERROR_SUCCESS && pBuffer != NULL) {
        LocalFree(pBuffer);
        pBuffer = NULL;
    }
    *ppBuffer = pBuffer;
    *pcbData = cbRequired < cbBuffer ? cbRequired : cbBuffer;
    return dwError;
}

LPCSTR QV_FindHardwareId(const BYTE* pData, DWORD cbData, LPCSTR pszHardwareId) {
    const size_t cbId = strlen(pszHardwareId) + 1;
    const char* pszString = reinterpret_cast<const char*>(pData);
    const char* pEnd = pszString + cbData;
    while (pszString < pEnd && *pszString != '\0') {
        const void* pTerminator = memchr(pszString, '\0', static_cast<size_t>(pEnd - pszString));
        if (pTerminator == NULL) {
            return NULL;
        }
        const size_t cbString = static_cast<size_t>(static_cast<const char*>(pTerminator) - pszString) + 1;
        if (cbString == cbId && memcmp(pszString, pszHardwareId, cbId) == 0) {
            return pszString;
        }
        pszString += cbString;
    }
    return NULL;
}

void QV_FormatErrorCode(DWORD dwErrorCode) {
    LPSTR pszText;
    if (LookUpSystemText(dwErrorCode, &pszText) != 0) {
        QV_TRACE("QV_FormatErrorCode", "ErrorCode(%d):%s", dwErrorCode, pszText);
    } else {
        QV_TRACE("QV_FormatErrorCode", "ErrorCode(%d)", dwErrorCode);
    }
    if (pszText != NULL) {
        LocalFree(pszText);
    }
}

void QV_DisplayError(LPCSTR pszOperation) {
    DWORD dwErrorCode = GetLastError();

    LPSTR pszText;
    if (LookUpSystemText(dwErrorCode, &pszText) != 0) {
        QV_TRACE("QV_DisplayError", "%s FAILURE: Code=%d : %s\n", pszOperation, dwErrorCode, pszText);
    } else {
        QV_TRACE("QV_DisplayError", "%s FAILURE: Code=%d\n", pszOperation, dwErrorCode);
    }
    if (pszText != NULL) {
        LocalFree(pszText);
    }

    SetLastError(dwErrorCode);
}

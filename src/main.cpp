#include "main.h"

#include "common.h"
#include "install.h"
#include "uninstall.h"

#include <cstring>
#include <new>

#define QV_SOURCE_FILE "main"

namespace {

// An argument matches a switch when it begins with the switch's characters,
// ASCII letters compared without regard to case.
bool MatchesSwitch(LPCSTR pszArgument, LPCSTR pszSwitch) {
    for (; *pszSwitch != '\0'; ++pszArgument, ++pszSwitch) {
        char chArgument = *pszArgument;
        char chSwitch = *pszSwitch;
        if (chArgument >= 'a' && chArgument <= 'z') {
            chArgument = static_cast<char>(chArgument - 'a' + 'A');
        }
        if (chArgument != chSwitch) {  // also stops at the argument's end
            return false;
        }
    }
    return true;
}

// The user's temporary folder, a backslash and the default log file name.
// The buffer has room for the longest such name, so that an over-long one
// reaches the record whole and is refused there.
void SetDefaultLogFileName(CInstallInformation* pInstallInformation) {
    char szTempPath[MAX_PATH];
    memset(szTempPath, 0, sizeof(szTempPath));
    GetTempPathA(MAX_PATH, szTempPath);
    szTempPath[MAX_PATH - 1] = '\0';

    char szLogFileName[MAX_PATH + sizeof("\\" QV_DEFAULT_LOG_FILE)];
    QV_BuildPath(szLogFileName, szTempPath, QV_DEFAULT_LOG_FILE);
    pInstallInformation->SetLogFileName(szLogFileName);
}

}  // namespace

DWORD QV_ParseCommandLine(int argc, char* argv[], CInstallInformation* pInstallInformation) {
    if (argc < 2) {
        return ERROR_INVALID_PARAMETER;
    }

    for (int i = 1; i < argc; ++i) {
        LPCSTR pszArgument = argv[i];
        if (MatchesSwitch(pszArgument, "/A")) {
            if (pInstallInformation->GetOperationType() == OPERATION_UNINSTALL) {
                QV_DebugPrint("/R or /A is already specified.\n");
                return ERROR_INVALID_PARAMETER;
            }
            pInstallInformation->SetOperationType(OPERATION_INSTALL);
        } else if (MatchesSwitch(pszArgument, "/R")) {
            if (pInstallInformation->GetOperationType() == OPERATION_INSTALL) {
                QV_DebugPrint("/R or /A is already specified.\n");
                return ERROR_INVALID_PARAMETER;
            }
            pInstallInformation->SetOperationType(OPERATION_UNINSTALL);
        } else if (MatchesSwitch(pszArgument, "/L:")) {
            DWORD dwResult = pInstallInformation->SetLogFileName(pszArgument + 3);
            if (dwResult != ERROR_SUCCESS) {
                return dwResult;
            }
        } else if (MatchesSwitch(pszArgument, "/S:")) {
            DWORD dwResult = pInstallInformation->SetInstImageDir(pszArgument + 3);
            if (dwResult != ERROR_SUCCESS) {
                return dwResult;
            }
        }
    }

    DWORD dwResult = ERROR_SUCCESS;
    switch (pInstallInformation->GetOperationType()) {
    case OPERATION_INSTALL:
        if (pInstallInformation->GetInstImageDirLength() == 0) {
            QV_DebugPrint("InstDestDir or InstImageDir is not specified.\n");
            dwResult = ERROR_INVALID_PARAMETER;
        }
        break;
    case OPERATION_UNINSTALL:
        break;
    default:
        QV_DebugPrint("/R or /A is required.\n");
        dwResult = ERROR_INVALID_PARAMETER;
        break;
    }

    if (pInstallInformation->GetLogFileNameLength() == 0) {
        SetDefaultLogFileName(pInstallInformation);
    }

    QV_DebugPrint("Operation=0x%x\n", pInstallInformation->GetOperationType());
    QV_DebugPrint("szInstImageDir=[%s]\n", pInstallInformation->GetInstImageDir());
    QV_DebugPrint("szLogFileName=[%s]\n", pInstallInformation->GetLogFileName());
    return dwResult;
}

int main(int argc, char* argv[]) {
    QV_RestrictDllSearch();
    QV_DebugPrint("->main(argc=%d)\n", argc);

    CInstallInformation* pInstallInformation = new (std::nothrow) CInstallInformation();
    if (pInstallInformation == NULL) {
        QV_DebugPrint("ERROR: Out of memory. (Ret=%d)\n", ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    DWORD dwResult = QV_ParseCommandLine(argc, argv, pInstallInformation);
    if (dwResult != ERROR_SUCCESS) {
        delete pInstallInformation;
        QV_DebugPrint("Invalid Parameter? (Ret=%d)\n", dwResult);
        return static_cast<int>(dwResult);
    }

    QV_OpenLogFile(pInstallInformation->GetLogFileName());

    if (pInstallInformation->GetOperationType() == OPERATION_INSTALL) {
        dwResult = QV_Install(pInstallInformation);
    } else if (pInstallInformation->GetOperationType() == OPERATION_UNINSTALL) {
        dwResult = QV_Uninstall(pInstallInformation);
    }

    delete pInstallInformation;

    QV_TRACE("main", "Process return. (Ret=%d)\n", dwResult);
    QV_CloseLogFile();
    return static_cast<int>(dwResult);
}

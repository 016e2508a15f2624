#include "installinformation.h"

#include "common.h"

#include <cstring>

#define QV_SOURCE_FILE "installinformation"

namespace {

// Copies a text into a MAX_PATH field, or refuses it.
DWORD StoreText(char (&szField)[MAX_PATH], LPCSTR pszText, LPCSTR pszFieldName) {
    if (!QV_CopyString(szField, pszText)) {
        QV_DebugPrint("BuffSize(%s)=%d, Need=%d\n", pszFieldName, MAX_PATH, lstrlenA(pszText));
        return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

}  // namespace

CInstallInformation::CInstallInformation() { Clear(); }

CInstallInformation::~CInstallInformation() { Clear(); }

void CInstallInformation::Clear() {
    Operation = OPERATION_NONE;
    nReserved = -1;
    memset(szInstImageDir, 0, sizeof(szInstImageDir));
    memset(szInstDestDir, 0, sizeof(szInstDestDir));
    memset(szLogFileName, 0, sizeof(szLogFileName));
}

void CInstallInformation::SetOperationType(DWORD dwOperation) {
    QV_TRACE("SetOperationType", "SetOperationType(0x%x)\n", dwOperation);
    if (dwOperation == OPERATION_INSTALL || dwOperation == OPERATION_UNINSTALL) {
        Operation = dwOperation;
    } else {
        Operation = OPERATION_NONE;
    }
}

DWORD CInstallInformation::GetOperationType() const { return Operation; }

DWORD CInstallInformation::SetInstImageDir(LPCSTR pszInstImageDir) {
    return StoreText(szInstImageDir, pszInstImageDir, "InstImageDir");
}

LPCSTR CInstallInformation::GetInstImageDir() const { return szInstImageDir; }

int CInstallInformation::GetInstImageDirLength() const { return lstrlenA(szInstImageDir); }

DWORD CInstallInformation::SetLogFileName(LPCSTR pszLogFileName) {
    return StoreText(szLogFileName, pszLogFileName, "LogFileName");
}

LPCSTR CInstallInformation::GetLogFileName() const { return szLogFileName; }

int CInstallInformation::GetLogFileNameLength() const { return lstrlenA(szLogFileName); }

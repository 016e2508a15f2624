// What the command line asked for, carried from the parser to the install
// and uninstall sequences.
#pragma once

#include "platform.h"

#define OPERATION_INSTALL 0x10
#define OPERATION_UNINSTALL 0x20
#define OPERATION_NONE 0xFF

class CInstallInformation {
public:
    CInstallInformation();
    virtual ~CInstallInformation();

    CInstallInformation(const CInstallInformation&) = delete;
    CInstallInformation& operator=(const CInstallInformation&) = delete;

    // Stores OPERATION_INSTALL or OPERATION_UNINSTALL; any other code stores
    // OPERATION_NONE. Every request is traced.
    void SetOperationType(DWORD dwOperation);
    DWORD GetOperationType() const;

    // The setters refuse a text of MAX_PATH characters or more with
    // ERROR_INVALID_PARAMETER and leave the field empty.
    DWORD SetInstImageDir(LPCSTR pszInstImageDir);
    LPCSTR GetInstImageDir() const;
    int GetInstImageDirLength() const;

    DWORD SetLogFileName(LPCSTR pszLogFileName);
    LPCSTR GetLogFileName() const;
    int GetLogFileNameLength() const;

private:
    void Clear();

    DWORD Operation;
    LONG nReserved;
    char szInstImageDir[MAX_PATH];
    char szInstDestDir[MAX_PATH];
    char szLogFileName[MAX_PATH];
};

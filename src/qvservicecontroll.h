// One named service of the service control manager: open, stop, delete.
#pragma once

#include "platform.h"

class CqvServiceControll {
public:
    // Opens the local service control manager; a failure is traced and kept.
    explicit CqvServiceControll(LPCSTR pszServiceName);
    virtual ~CqvServiceControll();

    CqvServiceControll(const CqvServiceControll&) = delete;
    CqvServiceControll& operator=(const CqvServiceControll&) = delete;

    // 0 when the service was opened, else the error code.
    DWORD qvOpenService();
    // Sends the stop control and waits up to 30 seconds for the service to stop.
    void qvStopService();
    // Marks the service for deletion; 0 when done or when no service is open.
    DWORD qvDeleteService();

private:
    // Keeps the code of a failed call, traces it with the call's name and
    // reports its text.
    void ReportFailure(LPCSTR pszFunction, LPCSTR pszCall);

    SC_HANDLE hSCManager;
    SC_HANDLE hService;
    DWORD dwLastError;
    char szServiceName[MAX_PATH];
};

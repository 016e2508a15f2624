#include "qvservicecontroll.h"

#include "common.h"

#include <cstring>

#define QV_SOURCE_FILE "qvservicecontroll"

namespace {

const DWORD kStopPollLimit = 30;
const DWORD kStopPollInterval = 1000;  // milliseconds

}  // namespace

CqvServiceControll::CqvServiceControll(LPCSTR pszServiceName) {
    QV_TRACE("CqvServiceControll", " --> CqvServiceControll::CqvServiceControll(%s)\n", pszServiceName);
    hSCManager = NULL;
    hService = NULL;
    dwLastError = ERROR_SUCCESS;

    hSCManager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (hSCManager == NULL) {
        ReportFailure("CqvServiceControll", "OpenSCManager");
    }

    // A name that does not fit is not cut into the name of another service:
    // the field stays empty, and opening the service fails.
    QV_CopyString(szServiceName, pszServiceName);
}

CqvServiceControll::~CqvServiceControll() {
    if (hService != NULL) {
        CloseServiceHandle(hService);
        hService = NULL;
    }
    if (hSCManager != NULL) {
        CloseServiceHandle(hSCManager);
        hSCManager = NULL;
    }
    memset(szServiceName, 0, sizeof(szServiceName));
}

void CqvServiceControll::ReportFailure(LPCSTR pszFunction, LPCSTR pszCall) {
    dwLastError = GetLastError();
    QV_TRACE(pszFunction, "ERROR: %s(Err=%d)\n", pszCall, dwLastError);
    QV_FormatErrorCode(dwLastError);
}

DWORD CqvServiceControll::qvOpenService() {
    QV_TRACE("qvOpenService", " --> CqvServiceControll::qvOpenService()\n");
    hService = OpenServiceA(hSCManager, szServiceName, SERVICE_ALL_ACCESS);
    if (hService == NULL) {
        ReportFailure("qvOpenService", "OpenService");
        return dwLastError;
    }
    return ERROR_SUCCESS;
}

void CqvServiceControll::qvStopService() {
    static const char kFunction[] = "qvStopService";
    QV_TRACE(kFunction, " --> CqvServiceControll::qvStopService()\n");
    if (hService == NULL) {
        return;
    }

    SERVICE_STATUS status;
    memset(&status, 0, sizeof(status));
    if (!QueryServiceStatus(hService, &status)) {
        ReportFailure(kFunction, "QueryServiceStatus");
        return;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) {
        return;
    }
    if (!ControlService(hService, SERVICE_CONTROL_STOP, &status)) {
        ReportFailure(kFunction, "ControlService");
        return;
    }

    for (DWORD dwQuery = 1; dwQuery <= kStopPollLimit; ++dwQuery) {
        memset(&status, 0, sizeof(status));
        if (!QueryServiceStatus(hService, &status)) {
            ReportFailure(kFunction, "QueryServiceStatus");
        } else if (status.dwCurrentState == SERVICE_STOPPED) {
            QV_TRACE(kFunction, "  Service stopped successfully.\n");
            break;
        }
        Sleep(kStopPollInterval);
    }
    QV_TRACE(kFunction, " <-- CqvServiceControll::qvStopService()\n");
}

DWORD CqvServiceControll::qvDeleteService() {
    QV_TRACE("qvDeleteService", " --> CqvServiceControll::qvDeleteService()\n");
    if (hService == NULL) {
        return ERROR_SUCCESS;
    }
    if (!DeleteService(hService)) {
        ReportFailure("qvDeleteService", "DeleteService");
        return dwLastError;
    }
    return ERROR_SUCCESS;
}

#include "install.h"

#include "common.h"
#include "uninstall.h"
#include "variant.h"

#include <cstring>

#define QV_SOURCE_FILE "install"

// MSVC deprecates GetVersionExA; the suppression covers the line after it.
#ifdef _MSC_VER
#define QV_ALLOW_DEPRECATED_CALL __pragma(warning(suppress : 4996))
#else
#define QV_ALLOW_DEPRECATED_CALL
#endif

namespace {

// A failed call that left no error code must not pass for a success: the
// clean-up stage decides the result by the last-error value.
void SetFailureCodeIfNone() {
    if (GetLastError() == ERROR_SUCCESS) {
        SetLastError(ERROR_GEN_FAILURE);
    }
}

// newdev.dll, loaded from the system folder when the installation first
// updates a driver, and its UpdateDriverForPlugAndPlayDevicesA.
typedef BOOL(WINAPI* UpdateDriverFunction)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
HMODULE g_hNewdev = NULL;
UpdateDriverFunction g_pfnUpdateDriver = NULL;

// UpdateDriverForPlugAndPlayDevicesA with INSTALLFLAG_FORCE; a newdev.dll that
// cannot be loaded, or lacks the function, fails it with the loader's code.
BOOL UpdateDriver(LPCSTR pszHardwareId, LPCSTR pszInfFile, PBOOL pbRebootRequired) {
    if (g_hNewdev == NULL) {
        g_hNewdev = QV_LoadSystemLibrary("newdev.dll");
        if (g_hNewdev == NULL) {
            return FALSE;
        }
    }
    if (g_pfnUpdateDriver == NULL) {
        FARPROC pfnFound = GetProcAddress(g_hNewdev, "UpdateDriverForPlugAndPlayDevicesA");
        if (pfnFound == NULL) {
            return FALSE;
        }
        // Through void (*)(void), the type that converts to any function pointer.
        g_pfnUpdateDriver = reinterpret_cast<UpdateDriverFunction>(reinterpret_cast<void (*)(void)>(pfnFound));
    }
    return g_pfnUpdateDriver(NULL, pszHardwareId, pszInfFile, INSTALLFLAG_FORCE, pbRebootRequired);
}

}  // namespace

void QV_ReleaseDriverUpdate(void) {
    if (g_hNewdev != NULL) {
        g_pfnUpdateDriver = NULL;
        FreeLibrary(g_hNewdev);
        g_hNewdev = NULL;
    }
}

BOOL QV_FindExistingDevice(LPCSTR pszHardwareId) {
    static const char kFunction[] = "QV_FindExistingDevice";
    QV_TRACE(kFunction, " --> QV_FindExistingDevice(HardwareID: [%s]\n", pszHardwareId);

    HDEVINFO hDevInfo = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        QV_DisplayError("SetupDiGetClassDevs(All Present Devices)");
        return FALSE;
    }

    SP_DEVINFO_DATA devInfoData;
    memset(&devInfoData, 0, sizeof(devInfoData));
    devInfoData.cbSize = sizeof(devInfoData);

    DWORD dwError = ERROR_NO_MORE_ITEMS;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        if (!SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &devInfoData)) {
            if (GetLastError() != ERROR_SUCCESS) {
                QV_TRACE(kFunction, "EnumDeviceInfo\n");
            }
            // One that failed without a code found nothing either.
            SetFailureCodeIfNone();
            dwError = GetLastError();
            break;
        }
        BYTE* pHardwareIds;
        DWORD cbHardwareIds;
        DWORD dwReadError = QV_ReadHardwareIds(hDevInfo, &devInfoData, &pHardwareIds, &cbHardwareIds);
        if (dwReadError == ERROR_INVALID_DATA) {
            continue;  // no hardware IDs
        }
        if (dwReadError != ERROR_SUCCESS) {
            QV_TRACE(kFunction, "ERROR: SetupDiGetDeviceRegistryProperty(%d)\n", dwReadError);
            dwError = dwReadError;
            break;
        }
        LPCSTR pszFound = QV_FindHardwareId(pHardwareIds, cbHardwareIds, pszHardwareId);
        if (pszFound != NULL) {
            QV_TRACE(kFunction, "  Found! [%s]\n", pszFound);
        }
        LocalFree(pHardwareIds);
        if (pszFound != NULL) {
            dwError = ERROR_SUCCESS;
            break;
        }
    }

    SetupDiDestroyDeviceInfoList(hDevInfo);
    SetLastError(dwError);
    QV_TRACE(kFunction, " <-- QV_FindExistingDevice(%s)\n", dwError == ERROR_SUCCESS ? "TRUE" : "FALSE");
    return dwError == ERROR_SUCCESS;
}

BOOL QV_InstallRootEnumeratedDriver(LPCSTR pszHardwareId, LPCSTR pszInfFile, PBOOL pbRebootRequired) {
    static const char kFunction[] = "QV_InstallRootEnumeratedDriver";
    QV_TRACE(kFunction, " --> QV_InstallRootEnumeratedDriver()\n");
    QV_TRACE(kFunction, "  HardwareId = [%s]\n", pszHardwareId);
    QV_TRACE(kFunction, "  InfFile    = [%s]\n", pszInfFile);

    GUID classGuid;
    char szClassName[32];
    memset(&classGuid, 0, sizeof(classGuid));
    memset(szClassName, 0, sizeof(szClassName));

    QV_TRACE(kFunction, " call SetupDiGetINFClass()\n");
    if (!SetupDiGetINFClassA(pszInfFile, &classGuid, szClassName, sizeof(szClassName), NULL)) {
        QV_TRACE(kFunction, "ERROR: SetupDiGetINFClass() failed. GetLastError=%d", GetLastError());
        QV_DisplayError("SetupDiGetINFClass");
        return FALSE;
    }
    QV_TRACE(kFunction, " ret  SetupDiGetINFClass()\n");

    QV_TRACE(kFunction, " call SetupDiCreateDeviceInfoList()\n");
    HDEVINFO hDevInfo = SetupDiCreateDeviceInfoList(&classGuid, NULL);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        QV_TRACE(kFunction, "ERROR: SetupDiCreateDeviceInfoList() failed. GetLastError=%d", GetLastError());
        QV_DisplayError("SetupDiCreateDeviceInfoList");
        return FALSE;
    }
    QV_TRACE(kFunction, " ret  SetupDiCreateDeviceInfoList(), DeviceInfoSet=0x%x\n", QV_TraceAddress(hDevInfo));

    SP_DEVINFO_DATA devInfoData;
    memset(&devInfoData, 0, sizeof(devInfoData));
    devInfoData.cbSize = sizeof(devInfoData);

    QV_TRACE(kFunction, " call SetupDiCreateDeviceInfo()\n");
    if (!SetupDiCreateDeviceInfoA(hDevInfo, szClassName, &classGuid, NULL, NULL, DICD_GENERATE_ID,
                                  &devInfoData)) {
        QV_TRACE(kFunction, "ERROR: SetupDiCreateDeviceInfo() failed. GetLastError=%d. goto cleanup_DeviceInfo",
                 GetLastError());
        QV_DisplayError("SetupDiCreateDeviceInfo");
        SetFailureCodeIfNone();
        goto cleanup_DeviceInfo;
    }
    QV_TRACE(kFunction, " ret  SetupDiCreateDeviceInfo(), DeviceInfoData Addr=0x%x\n", QV_TraceAddress(&devInfoData));

    QV_TRACE(kFunction, " call SetupDiSetDeviceRegistryProperty()\n");
    if (!SetupDiSetDeviceRegistryPropertyA(hDevInfo, &devInfoData, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(pszHardwareId),
                                           static_cast<DWORD>(lstrlenA(pszHardwareId) + 2))) {
        QV_TRACE(kFunction,
                 "ERROR: SetupDiSetDeviceRegistryProperty() failed. GetLastError=%d. goto cleanup_DeviceInfo",
                 GetLastError());
        QV_DisplayError("SetupDiSetDeviceRegistryProperty");
        SetFailureCodeIfNone();
        goto cleanup_DeviceInfo;
    }
    QV_TRACE(kFunction, " ret  SetupDiSetDeviceRegistryProperty()\n");

    QV_TRACE(kFunction, " call SetupDiCallClassInstaller(DIF_REGISTERDEVICE)\n");
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, hDevInfo, &devInfoData)) {
        QV_TRACE(kFunction, "ERROR: SetupDiCallClassInstaller() failed. GetLastError=%d. goto cleanup_DeviceInfo",
                 GetLastError());
        QV_DisplayError("SetupDiCallClassInstaller(DIF_REGISTERDEVICE)");
        SetFailureCodeIfNone();
        goto cleanup_DeviceInfo;
    }
    QV_TRACE(kFunction, " ret  SetupDiCallClassInstaller()\n");

    QV_TRACE(kFunction, " call UpdateDriverForPlugAndPlayDevices()\n");
    {
        // Windows 6.2 and later want the INF in the system's INF folder first.
        OSVERSIONINFOA versionInfo;
        memset(&versionInfo, 0, sizeof(versionInfo));
        versionInfo.dwOSVersionInfoSize = sizeof(versionInfo);
        QV_ALLOW_DEPRECATED_CALL
        if (!GetVersionExA(&versionInfo)) {
            QV_TRACE(kFunction, "ERROR: GetVersionEx() failed. GetLastError=%d\n", GetLastError());
        } else if (versionInfo.dwMajorVersion > 6 ||
                   (versionInfo.dwMajorVersion == 6 && versionInfo.dwMinorVersion >= 2)) {
            if (SetupCopyOEMInfA(pszInfFile, NULL, SPOST_NONE, SP_COPY_REPLACEONLY, NULL, 0, NULL, NULL)) {
                QV_TRACE(kFunction, "SetupCopyOEMInf() success.\n");
            } else {
                QV_TRACE(kFunction, "ERROR: SetupCopyOEMInf() failed. GetLastError=%d\n", GetLastError());
            }
        }
    }

    if (UpdateDriver(pszHardwareId, pszInfFile, pbRebootRequired)) {
        QV_TRACE(kFunction, " ret  UpdateDriverForPlugAndPlayDevices()\n");
        QV_TRACE(kFunction, " call SetLastError(NO_ERROR)\n");
        SetLastError(NO_ERROR);
        QV_TRACE(kFunction, " ret  SetLastError()\n");
    } else {
        QV_TRACE(kFunction, "ERROR: UpdateDriverForPlugAndPlayDevices() failed. GetLastError=%d", GetLastError());
        QV_DisplayError("UpdateDriverForPlugAndPlayDevices");
        SetFailureCodeIfNone();
        DWORD dwInstallError = GetLastError();
        QV_TRACE(kFunction, " call SetupDiCallClassInstaller(DIF_REMOVE)\n");
        if (!SetupDiCallClassInstaller(DIF_REMOVE, hDevInfo, &devInfoData)) {
            QV_DisplayError("SetupDiCallClassInstaller(REMOVE)");
        }
        QV_TRACE(kFunction, " ret  SetupDiCallClassInstaller()\n");
        QV_TRACE(kFunction, " call SetLastError(%d)\n", dwInstallError);
        SetLastError(dwInstallError);
        QV_TRACE(kFunction, " ret  SetLastError()\n");
    }

cleanup_DeviceInfo:
    QV_TRACE(kFunction, " cleanup_DeviceInfo:\n");
    DWORD dwResult = GetLastError();
    QV_TRACE(kFunction, " call SetupDiDestroyDeviceInfoList()\n");
    SetupDiDestroyDeviceInfoList(hDevInfo);
    QV_TRACE(kFunction, " ret  SetupDiDestroyDeviceInfoList()\n");
    QV_TRACE(kFunction, " call SetLastError(%d)\n", dwResult);
    SetLastError(dwResult);
    QV_TRACE(kFunction, " ret  SetLastError()\n");

    QV_TRACE(kFunction, " <-- QV_InstallRootEnumeratedDriver(bReturn=%d, RebootRequired=%d)\n",
             dwResult == ERROR_SUCCESS ? 1 : 0, *pbRebootRequired);
    return dwResult == ERROR_SUCCESS;
}

BOOL QV_RemoveReadOnlyAttribute(LPCSTR pszFilePath) {
    static const char kFunction[] = "QV_RemoveReadOnlyAttribute";
    QV_TRACE(kFunction, " --> QV_RemoveReadOnlyAttribute(%s)\n", pszFilePath);

    DWORD dwAttributes = GetFileAttributesA(pszFilePath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        dwAttributes = FILE_ATTRIBUTE_NORMAL;
    } else {
        dwAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    }

    QV_TRACE(kFunction, " call SetFileAttributes()\n");
    BOOL bResult = SetFileAttributesA(pszFilePath, dwAttributes);
    QV_TRACE(kFunction, " ret  SetFileAttributes(bRet=%d)\n", bResult);
    QV_TRACE(kFunction, " <-- QV_RemoveReadOnlyAttribute()\n");
    return bResult;
}

DWORD QV_CheckMirrorFileExists(const CInstallInformation* pInstallInformation) {
    static const char* const kDriverFiles[] = {QV_MIRROR_INF, QV_MIRROR_DLL, QV_MIRROR_SYS};
    for (LPCSTR pszFileName : kDriverFiles) {
        char szPath[MAX_PATH];
        if (!QV_BuildPath(szPath, pInstallInformation->GetInstImageDir(), pszFileName)) {
            QV_TRACE("QV_CheckMirrorFileExists", "ERROR: Path too long. [%s\\%s]\n",
                     pInstallInformation->GetInstImageDir(), pszFileName);
            return QV_ERROR_FILE_MISSING;
        }
        if (!QV_FileExists(szPath)) {
            QV_TRACE("QV_CheckMirrorFileExists", "ERROR: File not Found. [%s]\n", szPath);
            return QV_ERROR_FILE_MISSING;
        }
    }
    return ERROR_SUCCESS;
}

DWORD QV_RegisterMirrorDriver(const CInstallInformation* pInstallInformation) {
    static const char kFunction[] = "QV_RegisterMirrorDriver";
    BOOL bRebootRequired = FALSE;
    QV_TRACE(kFunction, "===> QV_RegisterMirrorDriver()\n");

    DWORD dwResult = QV_CheckMirrorFileExists(pInstallInformation);
    if (dwResult != ERROR_SUCCESS) {
        QV_TRACE(kFunction, "<=== QV_RegisterMirrorDriver(%d)\n", dwResult);
        return dwResult;
    }

    // Fits: the check above built the same path.
    char szInfFile[MAX_PATH];
    QV_BuildPath(szInfFile, pInstallInformation->GetInstImageDir(), QV_MIRROR_INF);
    QV_TRACE(kFunction, "  MirrorInfFile = [%s]\n", szInfFile);

    if (QV_FindExistingDevice(QV_MIRROR_HARDWARE_ID)) {
        if (!UpdateDriver(QV_MIRROR_HARDWARE_ID, szInfFile, &bRebootRequired)) {
            QV_DisplayError("UpdateDriverForPlugAndPlayDevices.");
            return QV_ERROR_INSTALL_FAILED;
        }
    } else {
        DWORD dwError = GetLastError();
        if (dwError != ERROR_NO_MORE_ITEMS) {
            QV_TRACE(kFunction, "Unknown Error.(%d)\n", dwError);
            return QV_ERROR_INSTALL_FAILED;
        }
        if (!QV_InstallRootEnumeratedDriver(QV_MIRROR_HARDWARE_ID, szInfFile, &bRebootRequired)) {
            QV_TRACE(kFunction, "<=== QV_RegisterMirrorDriver(ERROR)\n");
            return QV_ERROR_INSTALL_FAILED;
        }
    }

    // The system keeps its own copy of the INF; it must not stay read-only.
    char szOemInfFile[MAX_PATH];
    DWORD dwOemInfFileSize = MAX_PATH;
    QV_GetOEMInfFileName(szOemInfFile, &dwOemInfFileSize);
    QV_RemoveReadOnlyAttribute(szOemInfFile);

    QV_TRACE(kFunction, "Driver Installed successfully.\n");
    if (bRebootRequired) {
        QV_TRACE(kFunction, "Reboot Required.\n");
    }
    QV_TRACE(kFunction, "<=== QV_RegisterMirrorDriver()\n");
    return ERROR_SUCCESS;
}

DWORD QV_Install(const CInstallInformation* pInstallInformation) {
    static const char kFunction[] = "QV_Install";
    QV_TRACE(kFunction, "=====> QV_Install()\n");
    QV_TRACE(kFunction, "  ImageDir   = [%s]\n", pInstallInformation->GetInstImageDir());
    QV_TRACE(kFunction, "  LogFile    = [%s]\n", pInstallInformation->GetLogFileName());
    QV_TRACE(kFunction, "  Operation  = 0x%x (0x%x=INSTALL, 0x%x=UNINSTALL)\n",
             pInstallInformation->GetOperationType(), OPERATION_INSTALL, OPERATION_UNINSTALL);

    DWORD dwResult = QV_RegisterMirrorDriver(pInstallInformation);
    QV_ReleaseDriverUpdate();
    if (dwResult != ERROR_SUCCESS) {
        QV_TRACE(kFunction, "ERROR in QV_RegisterMirrorDriver(%d)\n", dwResult);
        return dwResult;
    }
    QV_TRACE(kFunction, "<===== QV_Install(%d)\n", ERROR_SUCCESS);
    return ERROR_SUCCESS;
}

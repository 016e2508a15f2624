// What the tests expect of the program, spelled out once here and never taken
// from the program's own headers: a wrong name in the program fails them.
// DRAVMEL_TEST_X86 selects the names of the 32-bit variant.
#pragma once

#include <string>

#ifdef DRAVMEL_TEST_X86
inline const std::string kTag = "Dravmelx86";
inline const std::string kInf = "QVMirror.INF";
inline const std::string kDll = "QVMirror.DLL";
inline const std::string kSys = "QVMirror.SYS";
inline const std::string kPnf = "QVMirror.PNF";
#else
inline const std::string kTag = "INSTx64";
inline const std::string kInf = "QVMIRx64.INF";
inline const std::string kDll = "QVMIRx64.DLL";
inline const std::string kSys = "QVMIRx64.SYS";
inline const std::string kPnf = "QVMIRx64.PNF";
#endif

inline const std::string kHardwareId = "Orvenik_Tallomer_Mirror";
inline const std::string kService = "QVMIRROR";
inline const std::string kDeviceDesc = "Orvenik Tallomer graphics driver";

// Keys below HKEY_LOCAL_MACHINE and folders of a default installation.
inline const std::string kDisplayClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";
inline const std::string kVideoKey = "SYSTEM\\CurrentControlSet\\Control\\Video";
inline const std::string kProfileVideoKey =
    "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\Control\\Video";
inline const std::string kReinstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reinstall";
inline const std::string kServicesKey = "SYSTEM\\CurrentControlSet\\Services";
inline const std::string kServiceKey = kServicesKey + "\\QVMIRROR";
inline const std::string kServiceVideoKey = kServiceKey + "\\VIDEO";
inline const std::string kSystemFolder = "C:\\Windows\\System32";
inline const std::string kInfFolder = "C:\\Windows\\INF";
inline const std::string kLastGoodFolder = "C:\\Windows\\LastGood\\System32";
// The temporary folder of a fresh simulated machine, a backslash and the name.
inline const std::string kDefaultLog = "C:\\Users\\user\\AppData\\Local\\Temp\\\\QVDRAVMEL.LOG";

constexpr int kExitInstallFailed = 50;
constexpr int kExitFileMissing = 51;

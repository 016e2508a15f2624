// Where Windows keeps what the program reads and removes: keys below
// HKEY_LOCAL_MACHINE and folders of a default installation, and the mirror
// device's names. Spelled out here rather than taken from the program, so
// that a wrong path in the program fails the tests.
#pragma once

#include <string>

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

inline const std::string kMirrorHardwareId = "Orvenik_Tallomer_Mirror";
inline const std::string kMirrorDeviceDesc = "Orvenik Tallomer graphics driver";

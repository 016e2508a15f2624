// The driver package a setup program hands to "/A", as the simulator's INF
// reader takes it. Shared by the tests, the fuzz targets and the benchmarks.
#pragma once

#include "variant.h"

#include <winsim/machine.h>

#include <string>

namespace package_files {

inline constexpr char kInf[] = R"(; Mirror display driver
[Version]
Signature="$Windows NT$"
Class=Display
ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}
Provider=%Mfg%
DriverVer=01/01/2021,1.0.0.0

[DestinationDirs]
DefaultDestDir=11
Mirror.Miniport=12

[Manufacturer]
%Mfg%=Mirror,NTamd64,NTx86

[Mirror.NTamd64]
%Desc%=Mirror_Install,Orvenik_Tallomer_Mirror

[Mirror.NTx86]
%Desc%=Mirror_Install,Orvenik_Tallomer_Mirror

[Mirror_Install]
CopyFiles=Mirror.Miniport,Mirror.Display

[Mirror_Install.Services]
AddService=QVMIRROR,0x00000002,Mirror_Service

[Mirror_Service]
ServiceType=1
StartType=3
ErrorControl=0
ServiceBinary=%12%\)" QV_MIRROR_SYS R"(

[Mirror.Miniport]
)" QV_MIRROR_SYS R"(

[Mirror.Display]
)" QV_MIRROR_DLL R"(

[Strings]
Mfg="Orvenik Tallomer"
Desc="Orvenik Tallomer graphics driver"
)";
inline constexpr char kDisplayDriver[] = "display driver";
inline constexpr char kMiniportDriver[] = "miniport driver";

// The variant's INF, DLL and SYS in the folder (created as needed). False
// when one could not be written.
inline bool Put(const std::string& folder) {
    return winsim::MakeDirectories(folder) && winsim::PutFile(folder + "\\" QV_MIRROR_INF, kInf) &&
           winsim::PutFile(folder + "\\" QV_MIRROR_DLL, kDisplayDriver) &&
           winsim::PutFile(folder + "\\" QV_MIRROR_SYS, kMiniportDriver);
}

// Whether the folder still holds the three files as Put wrote them.
inline bool Intact(const std::string& folder) {
    return winsim::FileContents(folder + "\\" QV_MIRROR_INF) == std::string(kInf) &&
           winsim::FileContents(folder + "\\" QV_MIRROR_DLL) == std::string(kDisplayDriver) &&
           winsim::FileContents(folder + "\\" QV_MIRROR_SYS) == std::string(kMiniportDriver);
}

}  // namespace package_files

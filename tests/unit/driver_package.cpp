#include "driver_package.h"

#include "trace_harness.h"
#include "variant.h"

#include <gtest/gtest.h>
#include <winsim/machine.h>

namespace {

const char kInf[] = R"(; Mirror display driver
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

}  // namespace

std::string PutDriverPackage(const std::string& folder) {
    EXPECT_TRUE(winsim::MakeDirectories(folder));
    EXPECT_TRUE(winsim::PutFile(folder + "\\" QV_MIRROR_INF, kInf));
    EXPECT_TRUE(winsim::PutFile(folder + "\\" QV_MIRROR_DLL, "display driver"));
    EXPECT_TRUE(winsim::PutFile(folder + "\\" QV_MIRROR_SYS, "miniport driver"));
    return kInf;
}

std::vector<std::string> TraceOf(const std::string& function) {
    std::vector<std::string> lines;
    const std::string prefix = function + ": ";
    for (const std::string& line : Trace()) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            lines.push_back(line.substr(prefix.size()));
        }
    }
    return lines;
}

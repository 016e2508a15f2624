// Registry lookups of the removal: the system's INF copy, the mirror's video
// sub-keys, the hardware-profile video path and the reinstall entry. These
// tests hold what only a call of one lookup shows: its trace, result code,
// result buffers and sizes, and the list it builds. What a whole removal
// takes when values are at and past the buffer sizes, unterminated or
// oddly shaped is checked by the hostile tests (tests/robustness/hostile).
#include "common.h"
#include "machine_paths.h"
#include "trace_harness.h"
#include "uninstall.h"
#include "winsim_test.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;


const std::string kOemInf = "C:\\Windows\\INF\\oem7.inf";
const std::string kBackupInf = "C:\\Windows\\System32\\ReinstallBackups\\0003\\DriverFiles\\QVMIRx64.INF";
const std::string kBackupDir = "C:\\Windows\\System32\\ReinstallBackups\\0003\\DriverFiles";

const std::string kGuidA = "{0D3A4F61-7A4E-4C5A-9A51-2B6B0C1E0001}";
const std::string kGuidB = "{5B2C8E10-1F3D-4E2A-8C77-3D9E4A2F0002}";
const std::string kGuidC = "{9E7F1A22-6C4B-4D3E-B1A8-5E0F6B3C0003}";

constexpr char kStale[] = "stale result";
constexpr char kFill = '#';

Lines Cat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The record QV_FormatErrorCode writes, with the system's text.
std::string Report(DWORD code) {
    static const std::map<DWORD, std::string> kText = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
        {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
        {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
        {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
        {ERROR_MORE_DATA, "More data is available.\r\n"},
        {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    };
    return "QV_FormatErrorCode: ErrorCode(" + std::to_string(code) + "):" + kText.at(code);
}

// Addresses are traced as their low 32 bits in hexadecimal.
std::string Hex(const void* address) {
    char text[16];
    snprintf(text, sizeof(text), "0x%x",
             static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address) & 0xFFFFFFFFu));
    return text;
}

void SetString(const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_TRUE(winsim::SetRegistryString(key, name, text));
}

std::string ClassSubKey(const std::string& name) { return kDisplayClassKey + "\\" + name; }
std::string VideoSubKey(const std::string& guid) { return kVideoKey + "\\" + guid + "\\Video"; }
std::string ReinstallSubKey(const std::string& name) { return kReinstallKey + "\\" + name; }

void DisplayDriver(const std::string& subKey, const std::string& matchingId, const std::string& infPath) {
    SetString(ClassSubKey(subKey), "MatchingDeviceId", matchingId);
    SetString(ClassSubKey(subKey), "InfPath", infPath);
}

void ReinstallEntry(const std::string& subKey, const std::string& deviceDesc, const std::string& reinstallString) {
    SetString(ReinstallSubKey(subKey), "DeviceDesc", deviceDesc);
    SetString(ReinstallSubKey(subKey), "ReinstallString", reinstallString);
}

// A MAX_PATH result buffer holding earlier text, with a marker behind it.
struct ResultBuffer {
    char text[MAX_PATH + 16];
    DWORD size = MAX_PATH;
    ResultBuffer() {
        memset(text, kFill, sizeof(text));
        memcpy(text, kStale, sizeof(kStale));
    }
    std::string Value() const { return std::string(text, strnlen(text, sizeof(text))); }
    // Nothing written at or after the given offset (which lies past the earlier text).
    bool UntouchedFrom(size_t offset) const {
        for (size_t i = offset; i < sizeof(text); ++i) {
            if (text[i] != kFill) {
                return false;
            }
        }
        return true;
    }
};

// Takes every entry off the list, frees it and returns the names in order.
std::vector<std::string> TakeAll(QV_GUID_ENTRY** ppHead) {
    std::vector<std::string> names;
    // Bounded, so that a list run into a loop fails instead of hanging.
    while (names.size() < 64) {
        QV_GUID_ENTRY* pEntry = QV_RemoveHead(ppHead);
        if (pEntry == nullptr) {
            break;
        }
        names.emplace_back(pEntry->szGuid, strnlen(pEntry->szGuid, sizeof(pEntry->szGuid)));
        EXPECT_EQ(LocalFree(pEntry), nullptr);
    }
    return names;
}

QV_GUID_ENTRY* NewEntry(const std::string& guid) {
    auto* pEntry = static_cast<QV_GUID_ENTRY*>(LocalAlloc(LPTR, sizeof(QV_GUID_ENTRY)));
    if (pEntry != nullptr) {
        snprintf(pEntry->szGuid, sizeof(pEntry->szGuid), "%s", guid.c_str());
    }
    return pEntry;
}

std::string MirrorGuidEntry(QV_GUID_ENTRY** ppHead) {
    return "QV_GetMirrorGuid:  --> QV_GetMirrorGuid( " + Hex(ppHead) + " )\n";
}

std::string OemLine(const std::string& message) { return "QV_GetOEMInfFileName: " + message + "\n"; }
std::string GuidLine(const std::string& message) { return "QV_GetMirrorGuid: " + message + "\n"; }
std::string AttachLine(const std::string& message) { return "QV_GetAttachToDesktopPath: " + message + "\n"; }
std::string ReinstallLine(const std::string& message) { return "QV_GetReinstallRegPath: " + message + "\n"; }

std::string OemMatchLine(int index, const std::string& subKey, const std::string& id) {
    return OemLine("[" + std::to_string(index) + "] Key=[" + subKey + "] MatchingDeviceId=[" + id + "]");
}

// The lines after a match whose InfPath names the file.
Lines OemFound(const std::string& infName) {
    const std::string path = "C:\\Windows\\INF\\" + infName;
    return {OemLine("InfFileName=[" + infName + "]"), OemLine("InfFileName=[" + path + "]"),
            OemLine(" <-- QV_GetOEMInfFileName( " + path + " )")};
}

Lines OemNotFound(DWORD code) {
    return {OemLine(" <-- QV_GetOEMInfFileName( NOT FOUND ) Ret=" + std::to_string(code)), Report(code)};
}

std::string GuidServiceLine(int index, const std::string& guid, const std::string& service) {
    return GuidLine("[" + std::to_string(index) + "] Key=" + guid + "\\Video, ServiceName=[" + service + "]");
}

std::string ReinstallDescLine(int index, const std::string& subKey, const std::string& desc) {
    return ReinstallLine("[" + std::to_string(index) + "] Key=" + subKey + ", DeviceDesc=[" + desc + "]");
}

// The lookups that hand back a path.
enum class PathLookup { kOemInf, kAttachToDesktop, kReinstall };

DWORD Call(PathLookup lookup, ResultBuffer* result, ResultBuffer* directory) {
    switch (lookup) {
        case PathLookup::kOemInf:
            return QV_GetOEMInfFileName(result->text, &result->size);
        case PathLookup::kAttachToDesktop:
            return QV_GetAttachToDesktopPath(result->text, &result->size);
        case PathLookup::kReinstall:
            return QV_GetReinstallRegPath(result->text, &result->size, directory->text, &directory->size);
    }
    return ERROR_INVALID_PARAMETER;
}

const char* const kPathFunction[] = {"QV_GetOEMInfFileName", "QV_GetAttachToDesktopPath", "QV_GetReinstallRegPath"};

std::string Line(PathLookup lookup, const std::string& message) {
    return std::string(kPathFunction[static_cast<int>(lookup)]) + ": " + message + "\n";
}

// Only QV_GetAttachToDesktopPath names its arguments, and writes no spaces around its result.
std::string EntryLine(PathLookup lookup, const ResultBuffer& result) {
    const std::string function = kPathFunction[static_cast<int>(lookup)];
    return Line(lookup, " --> " + function +
                            (lookup == PathLookup::kAttachToDesktop
                                 ? "( " + Hex(result.text) + ", " + Hex(&result.size) + " )"
                                 : "()"));
}

std::string ExitLine(PathLookup lookup, const std::string& path) {
    const std::string function = kPathFunction[static_cast<int>(lookup)];
    return Line(lookup,
                " <-- " + function + (lookup == PathLookup::kAttachToDesktop ? "(" + path + ")" : "( " + path + " )"));
}

// ---------------------------------------------------------------------------
// The path lookups: result code, result buffers and the whole trace

struct PathCase {
    std::string name;
    PathLookup lookup;
    std::function<void()> setup;
    DWORD result;
    std::string path;            // the result buffer afterwards
    Lines trace;                 // after the entry line
    std::string directory = "";  // QV_GetReinstallRegPath's folder afterwards
    DWORD size = MAX_PATH;       // the result buffer's size given
    DWORD sizeAfter = MAX_PATH;  // and the size variable afterwards
};

void PrintTo(const PathCase& param, std::ostream* os) { *os << param.name; }

class PathLookupTest : public WinsimTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(PathLookupTest, GivesThePathOrTheReason) {
    const PathCase& test = GetParam();
    test.setup();
    ResultBuffer result;
    ResultBuffer directory;
    result.size = test.size;
    EXPECT_EQ(Call(test.lookup, &result, &directory), test.result);
    EXPECT_EQ(result.Value(), test.path);
    EXPECT_EQ(result.size, test.sizeAfter);
    EXPECT_TRUE(result.UntouchedFrom(test.size));
    if (test.lookup == PathLookup::kReinstall) {
        EXPECT_EQ(directory.Value(), test.directory);
        EXPECT_TRUE(directory.UntouchedFrom(MAX_PATH));
    }
    EXPECT_EQ(Trace(), Cat({{EntryLine(test.lookup, result)}, test.trace}));
}

// An InfPath that is no plain file name, behind which another match waits.
// Names with a backslash or a drive are refused in a whole removal too (see
// the hostile tests); these would leave nothing there to show it.
PathCase NotAFileName(const char* name, const std::string& infPath) {
    return {name, PathLookup::kOemInf,
            [infPath] {
                DisplayDriver("0000", kMirrorHardwareId, infPath);
                DisplayDriver("0001", kMirrorHardwareId, "oem7.inf");
            },
            ERROR_INVALID_DATA, "",
            Cat({{OemMatchLine(0, "0000", kMirrorHardwareId),
                  OemLine(" Error: InfPath is not a file name. [" + infPath + "]")},
                 OemNotFound(ERROR_INVALID_DATA)})};
}

// The service's VideoID as stored (none: no value), the code and the name read.
PathCase VideoId(const char* name, const std::optional<std::string>& bytes, DWORD result, const std::string& read) {
    const std::string code = std::to_string(result);
    const std::string path = kProfileVideoKey + "\\" + read;
    Lines trace{AttachLine("QVMIRROR VideoID = " + read + ", Err=" + code)};
    if (result == 0) {
        trace.push_back(AttachLine("Attach.ToDesktop RegPath=" + path));
        trace.push_back(ExitLine(PathLookup::kAttachToDesktop, path));
    } else {
        trace.push_back(AttachLine("Error: RegQueryValueEx(Err=" + code + ") Value=VideoID"));
        trace.push_back(Report(result));
    }
    return {name, PathLookup::kAttachToDesktop,
            [bytes] {
                ASSERT_TRUE(winsim::CreateRegistryKey(kServiceVideoKey));
                if (bytes) {
                    ASSERT_TRUE(winsim::SetRegistryValue(kServiceVideoKey, "VideoID", REG_SZ, *bytes));
                }
            },
            result, result == 0 ? path : "", trace};
}

// The cases, a found path's case and that case with a result size one short
// of, equal to and one over the path's length: only a size above it takes the
// path; one too small is told the length, which the last line reports, and a
// reinstall folder already read stays (the caller skips the clean-up then).
std::vector<PathCase> WithSizes(std::vector<PathCase> cases, const PathCase& found) {
    cases.push_back(found);
    const DWORD length = static_cast<DWORD>(found.path.size());
    for (int delta : {-1, 0, 1}) {
        PathCase test = found;
        test.name += delta < 0 ? "SizeOneShort" : delta == 0 ? "SizeEqual" : "SizeOneOver";
        test.size = test.sizeAfter = length + delta;
        if (delta <= 0) {
            test.result = ERROR_INSUFFICIENT_BUFFER;
            test.path = "";
            test.sizeAfter = length;
            test.trace.back() = Line(test.lookup, "Buffer size [" + std::to_string(test.size) +
                                                      "] is too small. Need [" + std::to_string(length) + "]");
        }
        cases.push_back(test);
    }
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<PathCase>& info) { return info.param.name; }

const std::string kNul(1, '\0');
const std::string kName32(32, '0');
const std::string kInfName244 = std::string(240, 'q') + ".inf";  // makes a path of 259
const std::string kInfName245 = std::string(241, 'q') + ".inf";
const std::string kSubKey208(208, 'r');  // makes a key path of 260
const std::string kDescUpper = "ORVENIK TALLOMER GRAPHICS DRIVER";

const PathCase kOemFound{"IdInOtherCaseMatches", PathLookup::kOemInf,
                         [] { DisplayDriver("0000", "orvenik_TALLOMER_mirror", "oem7.inf"); }, 0, kOemInf,
                         Cat({{OemMatchLine(0, "0000", "orvenik_TALLOMER_mirror")}, OemFound("oem7.inf")})};

INSTANTIATE_TEST_SUITE_P(
    OemInf, PathLookupTest,
    ::testing::ValuesIn(WithSizes({
        PathCase{"NothingInstalled", PathLookup::kOemInf, [] {}, ERROR_NO_MORE_ITEMS, "",
                 OemNotFound(ERROR_NO_MORE_ITEMS)},
        // An ID that only begins with the mirror's, and another driver's, come first.
        PathCase{"MatchBehindOtherIds", PathLookup::kOemInf,
                 [] {
                     DisplayDriver("0000", kMirrorHardwareId + "_Old", "oem3.inf");
                     DisplayDriver("0001", "PCI\\VEN_8086&DEV_1234", "oem4.inf");
                     DisplayDriver("0002", kMirrorHardwareId, "oem7.inf");
                 },
                 0, kOemInf,
                 Cat({{OemMatchLine(0, "0000", kMirrorHardwareId + "_Old"),
                       OemMatchLine(1, "0001", "PCI\\VEN_8086&DEV_1234"), OemMatchLine(2, "0002", kMirrorHardwareId)},
                      OemFound("oem7.inf")})},
        PathCase{"FirstMatchWithoutInfPathEndsTheSearch", PathLookup::kOemInf,
                 [] {
                     SetString(ClassSubKey("0000"), "MatchingDeviceId", kMirrorHardwareId);
                     DisplayDriver("0001", kMirrorHardwareId, "oem9.inf");
                 },
                 ERROR_FILE_NOT_FOUND, "",
                 Cat({{OemMatchLine(0, "0000", kMirrorHardwareId),
                       OemLine(" Error: RegQueryValueEx(Err=2) Value=InfPath"), Report(ERROR_FILE_NOT_FOUND)},
                      OemNotFound(ERROR_FILE_NOT_FOUND)})},
        PathCase{"UnreadableSubKeysArePassedOver", PathLookup::kOemInf,
                 [] {
                     DisplayDriver("0000", kMirrorHardwareId, "oem1.inf");
                     ASSERT_TRUE(winsim::DenyRegistryAccess(ClassSubKey("0000"), KEY_READ));
                     ASSERT_TRUE(winsim::CreateRegistryKey(ClassSubKey("0001")));
                     DisplayDriver("0002", kMirrorHardwareId, "oem7.inf");
                 },
                 0, kOemInf,
                 Cat({{OemLine("[0] Key=[0000] Error: RegOpenKeyEx(Err=5)"), Report(ERROR_ACCESS_DENIED),
                       OemLine("[1] Key=[0001] Error: RegQueryValueEx(Err=2) Value=MatchingDeviceId"),
                       Report(ERROR_FILE_NOT_FOUND), OemMatchLine(2, "0002", kMirrorHardwareId)},
                      OemFound("oem7.inf")})},
        PathCase{"DeniedClassKeyIsReported", PathLookup::kOemInf,
                 [] {
                     DisplayDriver("0000", kMirrorHardwareId, "oem7.inf");
                     ASSERT_TRUE(winsim::DenyRegistryAccess(kDisplayClassKey, KEY_READ));
                 },
                 ERROR_ACCESS_DENIED, "",
                 {OemLine("Error: RegOpenKeyEx(Err=5) [" + kDisplayClassKey + "]"), Report(ERROR_ACCESS_DENIED)}},
        PathCase{"WithoutWindowsFolderNothingIsFound", PathLookup::kOemInf,
                 [] {
                     DisplayDriver("0000", kMirrorHardwareId, "oem7.inf");
                     winsim::FailEveryCall("GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY);
                 },
                 ERROR_NOT_ENOUGH_MEMORY, "",
                 {OemMatchLine(0, "0000", kMirrorHardwareId), OemLine("InfFileName=[oem7.inf]"),
                  OemLine("Error: GetWindowsDirectory(Err=8)"), Report(ERROR_NOT_ENOUGH_MEMORY)}},
        NotAFileName("EmptyInfPath", ""), NotAFileName("InfPathWithForwardSlash", "a/b.inf"),
        NotAFileName("InfPathDotDot", ".."), NotAFileName("InfPathDot", "."),
        PathCase{"SubKeyNameOf32EndsTheEnumeration", PathLookup::kOemInf,
                 [] { DisplayDriver(kName32, kMirrorHardwareId, "oem7.inf"); }, ERROR_MORE_DATA, "",
                 {OemLine("Error: RegEnumKeyEx(Err=234)"), Report(ERROR_MORE_DATA)}},
        PathCase{"PathOf259Fits", PathLookup::kOemInf, [] { DisplayDriver("0000", kMirrorHardwareId, kInfName244); }, 0,
                 "C:\\Windows\\INF\\" + kInfName244,
                 Cat({{OemMatchLine(0, "0000", kMirrorHardwareId)}, OemFound(kInfName244)})},
        PathCase{"PathOf260IsRefused", PathLookup::kOemInf,
                 [] { DisplayDriver("0000", kMirrorHardwareId, kInfName245); },
                 ERROR_FILENAME_EXCED_RANGE, "",
                 {OemMatchLine(0, "0000", kMirrorHardwareId), OemLine("InfFileName=[" + kInfName245 + "]"),
                  OemLine("Error: Path too long. [C:\\Windows\\INF\\" + kInfName245 + "]"),
                  Report(ERROR_FILENAME_EXCED_RANGE)}},
    }, kOemFound)),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    AttachToDesktop, PathLookupTest,
    ::testing::ValuesIn(WithSizes({
        PathCase{"NothingInstalled", PathLookup::kAttachToDesktop, [] {}, ERROR_FILE_NOT_FOUND, "",
                 {AttachLine("Error: RegOpenKeyEx(Err=2) [" + kServiceVideoKey + "]"), Report(ERROR_FILE_NOT_FOUND),
                  AttachLine(" <-- QV_GetAttachToDesktopPath( NOT FOUND )")}},
        // Never the bare profile video key, which holds every adapter.
        VideoId("Empty", kNul, ERROR_INVALID_DATA, ""), VideoId("Missing", std::nullopt, ERROR_FILE_NOT_FOUND, ""),
        VideoId("Of48", std::string(48, 'v') + kNul, ERROR_MORE_DATA, ""),
    }, VideoId("Guid", kGuidA + kNul, 0, kGuidA))),
    CaseName);

const PathCase kReinstallFound{"DescriptionInOtherCaseMatches", PathLookup::kReinstall,
                               [] {
                                   ReinstallEntry("0000", "Microsoft Basic Display Driver", "C:\\x\\basic.inf");
                                   ReinstallEntry("0001", kMirrorDeviceDesc + " v2", "C:\\y\\QVMIRx64.INF");
                                   ReinstallEntry("0003", kDescUpper, kBackupInf);
                               },
                               0, ReinstallSubKey("0003"),
                               {ReinstallDescLine(0, "0000", "Microsoft Basic Display Driver"),
                                ReinstallDescLine(1, "0001", kMirrorDeviceDesc + " v2"),
                                ReinstallDescLine(2, "0003", kDescUpper),
                                ExitLine(PathLookup::kReinstall, ReinstallSubKey("0003"))},
                               kBackupDir};

INSTANTIATE_TEST_SUITE_P(
    Reinstall, PathLookupTest,
    ::testing::ValuesIn(WithSizes({
        PathCase{"NothingInstalled", PathLookup::kReinstall, [] {}, ERROR_FILE_NOT_FOUND, "",
                 {ReinstallLine("Error: RegOpenKeyEx(Err=2) [" + kReinstallKey + "]"), Report(ERROR_FILE_NOT_FOUND)}},
        PathCase{"NoMatchIsNotReported", PathLookup::kReinstall,
                 [] { ReinstallEntry("0000", "Microsoft Basic Display Driver", "C:\\x\\basic.inf"); },
                 ERROR_NO_MORE_ITEMS, "",
                 {ReinstallDescLine(0, "0000", "Microsoft Basic Display Driver"),
                  ReinstallLine(" <-- QV_GetReinstallRegPath( NOT FOUND )")}},
        PathCase{"UnreadableEntriesArePassedOver", PathLookup::kReinstall,
                 [] {
                     ReinstallEntry("0000", kMirrorDeviceDesc, "C:\\x\\QVMIRx64.INF");
                     ASSERT_TRUE(winsim::DenyRegistryAccess(ReinstallSubKey("0000"), KEY_READ));
                     SetString(ReinstallSubKey("0001"), "ReinstallString", "C:\\y\\QVMIRx64.INF");
                     ReinstallEntry("0003", kMirrorDeviceDesc, kBackupInf);
                 },
                 0, ReinstallSubKey("0003"),
                 {ReinstallLine("Error: RegOpenKeyEx(Err=5) [0000]"), Report(ERROR_ACCESS_DENIED),
                  ReinstallLine("Error: RegQueryValueEx(Err=2) Value=DeviceDesc"), Report(ERROR_FILE_NOT_FOUND),
                  ReinstallDescLine(2, "0003", kMirrorDeviceDesc),
                  ExitLine(PathLookup::kReinstall, ReinstallSubKey("0003"))},
                 kBackupDir},
        PathCase{"FirstMatchWithoutReinstallStringEndsTheSearch", PathLookup::kReinstall,
                 [] {
                     SetString(ReinstallSubKey("0001"), "DeviceDesc", kMirrorDeviceDesc);
                     ReinstallEntry("0003", kMirrorDeviceDesc, kBackupInf);
                 },
                 ERROR_FILE_NOT_FOUND, "",
                 {ReinstallDescLine(0, "0001", kMirrorDeviceDesc),
                  ReinstallLine("Error: RegQueryValueEx(Err=2) Value=ReinstallString"), Report(ERROR_FILE_NOT_FOUND)}},
        PathCase{"ReinstallStringWithoutFolder", PathLookup::kReinstall,
                 [] { ReinstallEntry("0003", kMirrorDeviceDesc, "QVMIRx64.INF"); }, ERROR_INVALID_DATA, "",
                 {ReinstallDescLine(0, "0003", kMirrorDeviceDesc),
                  ReinstallLine("Error: ReinstallString has no folder. [QVMIRx64.INF]"), Report(ERROR_INVALID_DATA)}},
        PathCase{"KeyPathOf260IsRefused", PathLookup::kReinstall,
                 [] { ReinstallEntry(kSubKey208, kMirrorDeviceDesc, kBackupInf); }, ERROR_FILENAME_EXCED_RANGE, "",
                 {ReinstallDescLine(0, kSubKey208, kMirrorDeviceDesc),
                  ReinstallLine("Error: Path too long. [" + ReinstallSubKey(kSubKey208) + "]"),
                  Report(ERROR_FILENAME_EXCED_RANGE)}},
    }, kReinstallFound)),
    CaseName);

class ReinstallDirectoryLookupTest : public WinsimTest {};

// The folder goes straight into the caller's buffer: one too small is the
// registry's ERROR_MORE_DATA with the bytes the value needs.
TEST_F(ReinstallDirectoryLookupTest, SmallDirectoryBufferGetsTheSizeToRetryWith) {
    ReinstallEntry("0003", kMirrorDeviceDesc, kBackupInf);
    ResultBuffer regPath;
    ResultBuffer directory;
    directory.size = 20;
    EXPECT_EQ(QV_GetReinstallRegPath(regPath.text, &regPath.size, directory.text, &directory.size),
              static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(regPath.Value(), "");
    EXPECT_EQ(directory.Value(), "");
    EXPECT_EQ(directory.size, static_cast<DWORD>(kBackupInf.size() + 1));
    EXPECT_TRUE(directory.UntouchedFrom(20));
    EXPECT_EQ(Trace(), (Lines{EntryLine(PathLookup::kReinstall, regPath),
                              ReinstallDescLine(0, "0003", kMirrorDeviceDesc),
                              ReinstallLine("Error: RegQueryValueEx(Err=234) Value=ReinstallString"),
                              Report(ERROR_MORE_DATA)}));

    ResultBuffer retry;
    retry.size = directory.size;
    EXPECT_EQ(QV_GetReinstallRegPath(regPath.text, &regPath.size, retry.text, &retry.size), 0u);
    EXPECT_EQ(regPath.Value(), ReinstallSubKey("0003"));
    EXPECT_EQ(retry.Value(), kBackupDir);
}

// ---------------------------------------------------------------------------
// QV_GetMirrorGuid: the video key's sub-keys, listed in order

struct MirrorGuidCase {
    const char* name;
    std::function<void()> setup;
    DWORD result;
    std::vector<std::string> guids;
    Lines trace;  // after the entry line
};

void PrintTo(const MirrorGuidCase& param, std::ostream* os) { *os << param.name; }

class MirrorGuidLookupTest : public WinsimTest, public ::testing::WithParamInterface<MirrorGuidCase> {};

TEST_P(MirrorGuidLookupTest, ListsTheMirrorsSubKeysInOrder) {
    const MirrorGuidCase& test = GetParam();
    test.setup();
    QV_GUID_ENTRY* head = nullptr;
    EXPECT_EQ(QV_GetMirrorGuid(&head), test.result);
    EXPECT_EQ(TakeAll(&head), test.guids);  // whatever was listed is the caller's to free
    EXPECT_EQ(Trace(), Cat({{MirrorGuidEntry(&head)}, test.trace}));
}

void TwoMirrorVideoKeys() {
    SetString(VideoSubKey(kGuidA), "Service", "QVMIRROR");
    SetString(VideoSubKey(kGuidB), "Service", "QVMIRROR");
}

const std::string kFound = GuidLine(" <-- QV_GetMirrorGuid( FOUND )");

INSTANTIATE_TEST_SUITE_P(
    Lookup, MirrorGuidLookupTest,
    ::testing::Values(
        MirrorGuidCase{"NothingInstalled", [] { ASSERT_TRUE(winsim::CreateRegistryKey(kVideoKey)); }, 0, {},
                       {GuidLine(" <-- QV_GetMirrorGuid( NOT FOUND )")}},
        MirrorGuidCase{"WithoutVideoKey", [] {}, ERROR_FILE_NOT_FOUND, {},
                       {GuidLine("Error: RegOpenKeyEx(Err=2) [" + kVideoKey + "]"), Report(ERROR_FILE_NOT_FOUND)}},
        MirrorGuidCase{"ServiceInEitherCase",
                       [] {
                           SetString(VideoSubKey(kGuidA), "Service", "QVMIRROR");
                           SetString(VideoSubKey(kGuidB), "Service", "QVMIRROR2");
                           SetString(VideoSubKey(kGuidC), "Service", "qvmirror");
                       },
                       0, {kGuidA, kGuidC},
                       {GuidServiceLine(0, kGuidA, "QVMIRROR"), GuidServiceLine(1, kGuidB, "QVMIRROR2"),
                        GuidServiceLine(2, kGuidC, "qvmirror"), kFound}},
        MirrorGuidCase{"UnreadableSubKeysArePassedOver",
                       [] {
                           ASSERT_TRUE(winsim::CreateRegistryKey(kVideoKey + "\\" + kGuidA + "\\0000"));
                           ASSERT_TRUE(winsim::CreateRegistryKey(VideoSubKey(kGuidB)));
                           SetString(VideoSubKey(kGuidC), "Service", "QVMIRROR");
                       },
                       0, {kGuidC},
                       {GuidLine("Error: RegOpenKeyEx(Err=2) [" + kGuidA + "\\Video]"), Report(ERROR_FILE_NOT_FOUND),
                        GuidLine("Error: RegQueryValueEx(Err=2) Value=Service"), Report(ERROR_FILE_NOT_FOUND),
                        GuidServiceLine(2, kGuidC, "QVMIRROR"), kFound}},
        MirrorGuidCase{"FailedAllocationSkipsThatEntry",
                       [] {
                           TwoMirrorVideoKeys();
                           winsim::FailNthCall("LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
                       },
                       0, {kGuidB},
                       {GuidServiceLine(0, kGuidA, "QVMIRROR"), GuidLine("Error: LocalAlloc(Err=8)"),
                        Report(ERROR_NOT_ENOUGH_MEMORY), GuidServiceLine(1, kGuidB, "QVMIRROR"), kFound}},
        MirrorGuidCase{"EnumerationFailureIsReturned",
                       [] {
                           TwoMirrorVideoKeys();
                           winsim::FailNthCall("RegEnumKeyExA", 2, ERROR_ACCESS_DENIED);
                       },
                       ERROR_ACCESS_DENIED, {kGuidA},
                       {GuidServiceLine(0, kGuidA, "QVMIRROR"), GuidLine("Error: RegEnumKeyEx(Err=5)"),
                        Report(ERROR_ACCESS_DENIED)}}),
    [](const ::testing::TestParamInfo<MirrorGuidCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The GUID list

class GuidListLookupTest : public WinsimTest {};

TEST_F(GuidListLookupTest, MirrorGuidAppendsToTheCallersList) {
    TwoMirrorVideoKeys();
    QV_GUID_ENTRY* head = NewEntry("{earlier}");
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(QV_GetMirrorGuid(&head), 0u);
    EXPECT_EQ(TakeAll(&head), (std::vector<std::string>{"{earlier}", kGuidA, kGuidB}));
}

TEST_F(GuidListLookupTest, EntriesComeOffInTheOrderTheyWereAdded) {
    QV_GUID_ENTRY* head = nullptr;
    QV_GUID_ENTRY* first = NewEntry("first");
    QV_GUID_ENTRY* second = NewEntry("second");
    QV_GUID_ENTRY* third = NewEntry("third");
    ASSERT_TRUE(first != nullptr && second != nullptr && third != nullptr);
    QV_AddTail(&head, first);
    QV_AddTail(&head, second);
    EXPECT_EQ(head, first);
    EXPECT_EQ(first->pNext, second);
    EXPECT_EQ(second->pNext, nullptr);

    // The entry taken off no longer leads into the list.
    ASSERT_EQ(QV_RemoveHead(&head), first);
    ASSERT_EQ(first->pNext, nullptr);
    ASSERT_EQ(head, second);

    QV_AddTail(&head, third);
    QV_AddTail(&head, first);
    EXPECT_EQ(TakeAll(&head), (std::vector<std::string>{"second", "third", "first"}));
    EXPECT_EQ(head, nullptr);
}

}  // namespace

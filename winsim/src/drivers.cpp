// INF classes and copies (SetupAPI) and driver installation (newdev): what
// installing a driver leaves in the registry and in C:\Windows\INF.
#include "inf.h"
#include "state.h"

#include <winsim/machine.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace winsim::detail {
namespace {

constexpr char kInfFolder[] = "C:\\Windows\\INF";
// SPSVCINST_ASSOCSERVICE: the AddService line names the device's function driver.
constexpr DWORD kAssociatedService = 0x00000002;
constexpr DWORD kServiceFileSystemDriver = 0x2;

// "{4D36E968-E325-11CE-BFC1-08002BE10318}"
std::string GuidToString(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

bool ParseGuid(const std::string& text, GUID* guid) {
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
    static const char kShape[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (text.size() != sizeof kShape - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool hex = std::isxdigit(static_cast<unsigned char>(text[i])) != 0;
        if (kShape[i] == 'x' ? !hex : text[i] != kShape[i]) return false;
    }
    auto hex = [&](size_t at, size_t digits) {
        return static_cast<uint32_t>(std::strtoul(text.substr(at, digits).c_str(), nullptr, 16));
    };
    guid->Data1 = hex(1, 8);
    guid->Data2 = static_cast<WORD>(hex(10, 4));
    guid->Data3 = static_cast<WORD>(hex(15, 4));
    guid->Data4[0] = static_cast<BYTE>(hex(20, 2));
    guid->Data4[1] = static_cast<BYTE>(hex(22, 2));
    for (size_t i = 0; i < 6; ++i) guid->Data4[2 + i] = static_cast<BYTE>(hex(25 + 2 * i, 2));
    return true;
}

// The strings of a multi-string. Malformed data (no final empty string, or
// no terminator at all) yields what is there.
std::vector<std::string> SplitMultiString(const std::string& bytes) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        if (end == start) break;  // the empty string that ends the list
        items.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::vector<std::string> DeviceIds(const DeviceNode& device) {
    std::vector<std::string> ids;
    for (DWORD property : {SPDRP_HARDWAREID, SPDRP_COMPATIBLEIDS}) {
        auto it = device.properties.find(property);
        if (it == device.properties.end()) continue;
        for (std::string& id : SplitMultiString(it->second)) ids.push_back(std::move(id));
    }
    return ids;
}

std::string ClassKeyPath(const GUID& guid) {
    return std::string(kClassRoot) + "\\" + GuidToString(guid);
}

// ---------------------------------------------------------------------------
// INF copies in C:\Windows\INF

bool IsOemInfName(const std::string& name) {
    const std::string lower = LowerCase(name);
    if (lower.size() < 8 || lower.compare(0, 3, "oem") != 0 ||
        lower.compare(lower.size() - 4, 4, ".inf") != 0) {
        return false;
    }
    const std::string digits = lower.substr(3, lower.size() - 7);
    return !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

std::optional<std::string> IdenticalOemCopy(const std::string& contents) {
    for (const std::string& name : FolderEntries(kInfFolder)) {
        if (!IsOemInfName(name)) continue;
        std::string existing;
        if (ReadWholeFile(std::string(kInfFolder) + "\\" + name, &existing) == ERROR_SUCCESS &&
            existing == contents) {
            return name;
        }
    }
    return std::nullopt;
}

std::string FreeOemName() {
    for (unsigned n = 0;; ++n) {
        const std::string name = "oem" + std::to_string(n) + ".inf";
        if (FileAttributesOf(std::string(kInfFolder) + "\\" + name) == INVALID_FILE_ATTRIBUTES) {
            return name;
        }
    }
}

// Puts the INF into C:\Windows\INF as oemN.inf, or finds the identical copy
// already there. The copy keeps the source's attributes, as CopyFile does.
DWORD CopyOemInf(const std::string& source, const std::string& contents, DWORD style,
                 std::string* name) {
    if (std::optional<std::string> existing = IdenticalOemCopy(contents)) {
        *name = *existing;
        return ERROR_SUCCESS;
    }
    if (style & SP_COPY_REPLACEONLY) return ERROR_FILE_NOT_FOUND;
    *name = FreeOemName();
    const DWORD kept =
        FileAttributesOf(source) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return WriteWholeFile(std::string(kInfFolder) + "\\" + *name, contents,
                          kept | FILE_ATTRIBUTE_ARCHIVE);
}

// ---------------------------------------------------------------------------
// Choosing a driver from an INF

// How well a platform decoration ("NTamd64", "NT", "NTamd64.6.1") fits this
// x64 machine: -1 when it does not apply, higher when it names more.
int DecorationFit(const std::string& decoration) {
    const std::string d = LowerCase(decoration);
    if (d.compare(0, 2, "nt") != 0) return -1;
    size_t pos = 2;
    const size_t dot = d.find('.', pos);
    const std::string arch =
        d.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
    if (!arch.empty() && arch != "amd64") return -1;
    int fit = arch.empty() ? 1 : 2;
    // Decorations with a Windows version are not simulated.
    return dot == std::string::npos ? fit : -1;
}

struct DriverChoice {
    std::string description;
    std::string section;    // install section as the model line names it
    std::string extension;  // ".NTamd64", ".NT" or ""
    std::string provider;
    std::string version;
    std::optional<GUID> class_guid;
    std::vector<ServiceSetup> services;
    std::vector<std::pair<std::string, std::string>> files;  // name in the INF's folder, full target path
};

// The directory IDs simulated: the folders below the Windows folder they name.
const struct {
    const char* id;
    const char* below;
} kDirIds[] = {{"10", ""}, {"11", "\\System32"}, {"12", "\\System32\\drivers"}};

// The folder of a DIRID that [DestinationDirs] gives; "" for one not simulated.
std::string DestinationFolder(const std::string& dirid) {
    for (const auto& d : kDirIds) {
        if (dirid == d.id) return std::string("C:\\Windows") + d.below;
    }
    return "";
}

bool ParseNumber(const std::string& text, DWORD* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0') return false;
    *value = static_cast<DWORD>(v);
    return true;
}

// ServiceBinary with its directory ID: a driver's path is rooted at
// \SystemRoot (the boot loader's name), other services' at %SystemRoot%.
std::string ImagePath(const std::string& binary, DWORD service_type) {
    const bool driver =
        service_type == SERVICE_KERNEL_DRIVER || service_type == kServiceFileSystemDriver;
    const std::string root = driver ? "\\SystemRoot" : "%SystemRoot%";
    for (const auto& d : kDirIds) {
        const std::string dirid = std::string("%") + d.id + "%";
        if (binary.compare(0, dirid.size(), dirid) == 0) return root + d.below + binary.substr(dirid.size());
    }
    return binary;
}

DWORD ReadService(const InfFile& inf, const InfLine& line, ServiceSetup* service) {
    if (line.fields.empty()) return ERROR_LINE_NOT_FOUND;
    service->name = inf.Substitute(line.fields[0]);
    if (line.fields.size() > 1 && !line.fields[1].empty()) {
        ParseNumber(inf.Substitute(line.fields[1]), &service->flags);
    }
    if (service->name.empty()) return ERROR_SUCCESS;  // a device that needs no service
    if (line.fields.size() < 3) return ERROR_LINE_NOT_FOUND;
    const std::string section = inf.Substitute(line.fields[2]);
    if (inf.Section(section) == nullptr) return ERROR_SECTION_NOT_FOUND;
    const std::optional<std::string> type = inf.Value(section, "ServiceType");
    const std::optional<std::string> start = inf.Value(section, "StartType");
    const std::optional<std::string> error = inf.Value(section, "ErrorControl");
    const std::optional<std::string> binary = inf.Value(section, "ServiceBinary");
    if (!type || !start || !error || !binary || !ParseNumber(*type, &service->type) ||
        !ParseNumber(*start, &service->start) || !ParseNumber(*error, &service->error_control)) {
        return ERROR_LINE_NOT_FOUND;
    }
    service->image_path = ImagePath(*binary, service->type);
    return ERROR_SUCCESS;
}

// The models sections of the INF that apply to this machine: for each
// manufacturer the best-fitting decorated one (x64 Windows reads no
// undecorated models section).
std::vector<const InfSection*> ModelSections(const InfFile& inf) {
    std::vector<const InfSection*> sections;
    const InfSection* manufacturers = inf.Section("Manufacturer");
    if (manufacturers == nullptr) return sections;
    for (const InfLine& maker : manufacturers->lines) {
        if (maker.fields.empty()) continue;
        const std::string base = inf.Substitute(maker.fields[0]);
        const InfSection* best = nullptr;
        int best_fit = -1;
        for (size_t i = 1; i < maker.fields.size(); ++i) {
            const std::string decoration = inf.Substitute(maker.fields[i]);
            const int fit = DecorationFit(decoration);
            const InfSection* section = inf.Section(base + "." + decoration);
            if (fit > best_fit && section != nullptr) {
                best_fit = fit;
                best = section;
            }
        }
        if (best != nullptr) sections.push_back(best);
    }
    return sections;
}

// Finds the model line for the device: the first of its IDs (hardware IDs
// before compatible ones) that a model line lists, letter case ignored; then
// reads what installing it needs. ERROR_NO_MORE_ITEMS when the INF has no
// driver for the device.
DWORD ChooseDriver(const InfFile& inf, const std::vector<std::string>& ids, DriverChoice* choice,
                   std::string* matched) {
    const std::vector<const InfSection*> sections = ModelSections(inf);
    const InfLine* model = nullptr;
    for (const std::string& id : ids) {
        for (const InfSection* section : sections) {
            for (const InfLine& line : section->lines) {
                for (size_t i = 1; i < line.fields.size() && model == nullptr; ++i) {
                    if (SameName(inf.Substitute(line.fields[i]), id)) model = &line;
                }
                if (model != nullptr) break;
            }
            if (model != nullptr) break;
        }
        if (model != nullptr) {
            *matched = id;
            break;
        }
    }
    if (model == nullptr || model->fields.empty() || model->fields[0].empty()) {
        return ERROR_NO_MORE_ITEMS;
    }

    choice->description = inf.Substitute(model->key);
    choice->section = inf.Substitute(model->fields[0]);
    std::string install;
    for (const char* extension : {".NTamd64", ".NT", ""}) {
        if (inf.Section(choice->section + extension) != nullptr) {
            install = choice->section + extension;
            choice->extension = extension;
            break;
        }
    }
    if (install.empty()) return ERROR_SECTION_NOT_FOUND;
    if (const InfSection* services = inf.Section(install + ".Services")) {
        for (const InfLine& line : services->lines) {
            if (!SameName(line.key, "AddService")) continue;
            ServiceSetup service;
            if (DWORD error = ReadService(inf, line, &service)) return error;
            if (!service.name.empty()) choice->services.push_back(service);
        }
    }
    // The files of the CopyFiles sections ("@name" for one file), each to the
    // folder [DestinationDirs] gives for its section, or its default.
    if (const InfLine* copy = inf.Line(install, "CopyFiles")) {
        for (const std::string& field : copy->fields) {
            const std::string list = inf.Substitute(field);
            std::vector<std::string> names;
            if (!list.empty() && list[0] == '@') {
                names.push_back(list.substr(1));
            } else if (const InfSection* section = inf.Section(list)) {
                for (const InfLine& line : section->lines) {
                    const bool bare = line.key.empty() && !line.fields.empty();
                    names.push_back(inf.Substitute(bare ? line.fields[0] : line.key));
                }
            }
            const std::string fallback = inf.Value("DestinationDirs", "DefaultDestDir").value_or("");
            const std::string folder = DestinationFolder(inf.Value("DestinationDirs", list).value_or(fallback));
            if (folder.empty() && !names.empty()) return ERROR_INVALID_DATA;
            for (const std::string& name : names) choice->files.emplace_back(name, folder + "\\" + name);
        }
    }
    choice->provider = inf.Value("Version", "Provider").value_or("");
    choice->version = inf.Value("Version", "DriverVer", 1).value_or("");
    if (std::optional<std::string> guid = inf.Value("Version", "ClassGUID")) {
        GUID parsed{};
        if (!ParseGuid(*guid, &parsed)) return ERROR_INVALID_CLASS;
        choice->class_guid = parsed;
    }
    return ERROR_SUCCESS;
}

// The device's driver key: its own when it already has one in the class,
// otherwise the first free four-digit one.
std::string DriverKeyFor(const DeviceNode& device, const GUID& class_guid) {
    const std::string guid = GuidToString(class_guid);
    if (device.driver.size() == guid.size() + 5 &&
        SameName(device.driver.substr(0, guid.size()), guid)) {
        return device.driver;
    }
    std::shared_ptr<RegKey> class_key = CreateKey(ClassKeyPath(class_guid));
    for (unsigned n = 0; n <= 9999; ++n) {
        char number[8];
        std::snprintf(number, sizeof number, "%04u", n);
        if (!class_key->FindSubKey(number)) {
            return guid + "\\" + number;
        }
    }
    return "";
}

void InstallOn(DeviceNode& device, const DriverChoice& choice, const std::string& matched,
               const std::string& oem_name) {
    const GUID class_guid = choice.class_guid.value_or(device.class_guid);
    const std::string driver = DriverKeyFor(device, class_guid);
    std::shared_ptr<RegKey> key = CreateKey(std::string(kClassRoot) + "\\" + driver);
    // A reinstalled driver leaves nothing of the one before.
    for (const char* name : {"DriverDesc", "ProviderName", "DriverVersion", "InfPath", "InfSection",
                             "InfSectionExt", "MatchingDeviceId"}) {
        key->DeleteValue(name);
    }
    key->SetValue("DriverDesc", REG_SZ, WithTerminator(choice.description));
    if (!choice.provider.empty()) {
        key->SetValue("ProviderName", REG_SZ, WithTerminator(choice.provider));
    }
    if (!choice.version.empty()) {
        key->SetValue("DriverVersion", REG_SZ, WithTerminator(choice.version));
    }
    key->SetValue("InfPath", REG_SZ, WithTerminator(oem_name));
    key->SetValue("InfSection", REG_SZ, WithTerminator(choice.section));
    if (!choice.extension.empty()) {
        key->SetValue("InfSectionExt", REG_SZ, WithTerminator(choice.extension));
    }
    key->SetValue("MatchingDeviceId", REG_SZ, WithTerminator(LowerCase(matched)));

    std::string service;
    for (const ServiceSetup& s : choice.services) {
        WriteServiceKey(s);
        if (service.empty() && (s.flags & kAssociatedService)) service = s.name;
    }
    device.class_guid = class_guid;
    device.driver = driver;
    device.service = service;
    device.properties[SPDRP_DEVICEDESC] = WithTerminator(choice.description);
}

}  // namespace
}  // namespace winsim::detail

using namespace winsim::detail;

// ---------------------------------------------------------------------------
// INF files

// An INF named by its path, with a Class line, is simulated.
BOOL WINAPI SetupDiGetINFClassA(PCSTR InfName, LPGUID ClassGuid, PSTR ClassName, DWORD ClassNameSize, PDWORD) {
    if (auto fault = EnterCall("SetupDiGetINFClassA")) return Fail(*fault, FALSE);
    InfFile inf;
    if (DWORD error = LoadInf(InfName, &inf)) return Fail(error, FALSE);
    GUID guid{};
    const std::optional<std::string> guid_text = inf.Value("Version", "ClassGUID");
    if (guid_text && !ParseGuid(*guid_text, &guid)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const std::optional<std::string> name = inf.Value("Version", "Class");
    if (!name) return Fail(ERROR_INVALID_CLASS, FALSE);
    const DWORD required = static_cast<DWORD>(name->size() + 1);
    if (ClassNameSize < required) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(ClassName, name->c_str(), required);
    *ClassGuid = guid;
    return TRUE;
}

// The copy's name is not handed back: no destination buffer is simulated.
BOOL WINAPI SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR, DWORD, DWORD CopyStyle, PSTR, DWORD, PDWORD,
                             PSTR*) {
    if (auto fault = EnterCall("SetupCopyOEMInfA")) return Fail(*fault, FALSE);
    InfFile inf;
    std::string contents;
    if (DWORD error = LoadInf(SourceInfFileName, &inf, &contents)) return Fail(error, FALSE);
    std::string name;
    if (DWORD error = CopyOemInf(SourceInfFileName, contents, CopyStyle, &name)) return Fail(error, FALSE);
    return TRUE;
}

// ---------------------------------------------------------------------------
// Driver installation

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND, LPCSTR HardwareId, LPCSTR FullInfPath,
                                               DWORD, PBOOL bRebootRequired) {
    if (auto fault = EnterCall("UpdateDriverForPlugAndPlayDevicesA")) return Fail(*fault, FALSE);
    InfFile inf;
    std::string contents;
    if (DWORD error = LoadInf(FullInfPath, &inf, &contents)) return Fail(error, FALSE);

    // Present devices listing the ID among their hardware or compatible IDs;
    // PnP compares device IDs without regard to letter case.
    Machine& m = M();
    std::vector<std::shared_ptr<DeviceNode>> matching;
    for (const auto& device : SortedDevices()) {
        if (!device->present) continue;
        for (const std::string& id : DeviceIds(*device)) {
            if (SameName(id, HardwareId)) {
                matching.push_back(device);
                break;
            }
        }
    }
    if (matching.empty()) return Fail(ERROR_NO_SUCH_DEVINST, FALSE);

    // Each device gets the INF's driver for its best-ranked ID. Without
    // INSTALLFLAG_FORCE the driver it already has would be kept: not simulated.
    struct Install {
        std::shared_ptr<DeviceNode> device;
        DriverChoice choice;
        std::string matched;
    };
    std::vector<Install> installs;
    DWORD failure = ERROR_NO_MORE_ITEMS;
    for (const auto& device : matching) {
        Install install{device, {}, {}};
        if (DWORD error =
                ChooseDriver(inf, DeviceIds(*device), &install.choice, &install.matched)) {
            if (error != ERROR_NO_MORE_ITEMS) failure = error;
            continue;
        }
        installs.push_back(std::move(install));
    }
    if (installs.empty()) return Fail(failure, FALSE);
    // The driver files come from the INF's folder; one missing fails the installation.
    const std::string inf_path = FullInfPath;
    const std::string source = inf_path.substr(0, inf_path.find_last_of("\\/") + 1);
    std::vector<std::pair<std::string, std::string>> copies;  // target, contents
    for (const Install& install : installs) {
        for (const auto& [name, target] : install.choice.files) {
            copies.emplace_back(target, "");
            if (DWORD error = ReadWholeFile(source + name, &copies.back().second)) return Fail(error, FALSE);
        }
    }
    std::string oem_name;
    if (DWORD error = CopyOemInf(FullInfPath, contents, 0, &oem_name)) return Fail(error, FALSE);
    for (const auto& [target, data] : copies) {
        winsim::MakeDirectories(target.substr(0, target.rfind('\\')));
        if (DWORD error = WriteWholeFile(target, data, FILE_ATTRIBUTE_ARCHIVE)) return Fail(error, FALSE);
    }
    for (const Install& install : installs) {
        InstallOn(*install.device, install.choice, install.matched, oem_name);
    }

    if (bRebootRequired != nullptr) *bRebootRequired = m.restart_required ? TRUE : FALSE;
    return TRUE;
}


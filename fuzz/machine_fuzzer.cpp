// The registry, device, file and service contents that "/R" and "/A" read:
// the input decodes into a machine (see Decode), then "/R" runs on it; on
// the same machine anew with the driver package, "/A" runs, then "/R".
// Promises: "/R" ends with 0, "/A" with 0 or 50 (the package is there); a
// successful "/A" leaves a present device with the hardware ID, a failed
// one no device it created; nothing leaks, and what no lookup names
// survives (the sentinels).
#include "machine_paths.h"
#include "support.h"

#include "variant.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const char kRemoveLog[] = "C:\\Dravmel\\remove.log";
const char kInstallLog[] = "C:\\Dravmel\\install.log";
const char kDisplayGuid[] = "{4D36E968-E325-11CE-BFC1-08002BE10318}";

const char* const kFolders[] = {
    "C:\\Windows\\INF",
    "C:\\Windows\\System32",
    "C:\\Windows\\System32\\drivers",
    "C:\\Windows\\LastGood\\System32",
    "C:\\Windows\\LastGood\\System32\\drivers",
    "C:\\Windows\\System32\\ReinstallBackups\\0000\\DriverFiles",
};
const char* const kFileNames[] = {QV_MIRROR_INF, QV_MIRROR_DLL, QV_MIRROR_SYS, QV_MIRROR_PNF, "oem1.inf", "oem1.pnf"};
const std::string kTreeParents[] = {kVideoKey, kProfileVideoKey, kReinstallKey, kServiceVideoKey, kDisplayClassKey};
const REGSAM kDenials[] = {KEY_READ, KEY_WRITE, KEY_ALL_ACCESS, DELETE};
const DWORD kValueTypes[] = {REG_NONE, REG_SZ, REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_NONE};

// What no lookup names unless the input spells it out.
const char kSentinel[] = "DravmelKeep";
const std::string kSentinelKeyParents[] = {kVideoKey, kProfileVideoKey, kReinstallKey, kServicesKey, kDisplayClassKey};
const char* const kSentinelFiles[] = {
    "C:\\Windows\\System32\\DravmelKeep.dll",
    "C:\\Windows\\System32\\drivers\\DravmelKeep.sys",
    "C:\\Windows\\INF\\DravmelKeep.inf",
};
const char kSentinelDevice[] = "PCI\\VEN_1234&DEV_5678\\DRAVMELKEEP";

// Reads the input front to back; past its end every read gives zeros.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Done() const { return pos_ >= size_; }
    uint8_t Byte() { return Done() ? 0 : data_[pos_++]; }
    // A length (one byte below 0x80, else two: 15 bits) and that many bytes,
    // cut at the end of the input.
    std::string Bytes() {
        size_t length = Byte();
        if (length >= 0x80) {
            length = ((length & 0x7f) << 8) | Byte();
        }
        length = std::min(length, size_ - std::min(pos_, size_));
        std::string bytes(reinterpret_cast<const char*>(data_) + pos_, length);
        pos_ += length;
        return bytes;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A type byte and raw bytes; type 0 leaves the value out.
void SetValue(Reader& in, const std::string& key, const char* name) {
    const uint8_t type = in.Byte();
    const std::string data = in.Bytes();
    if (type % 8 != 0) {
        winsim::SetRegistryValue(key, name, kValueTypes[type % 8], data);
    }
}

struct Machine {
    bool sentinels = false;
};

// Input: a flags byte (bit 0: sentinels, bit 1: installations need a
// restart), then records until the end, each an op byte (low 3 bits: the
// kind, the rest: flags) and its fields (bytes: see Reader::Bytes; value:
// a type byte, see kValueTypes, and bytes):
//   0 display-class sub-key: name, MatchingDeviceId value, InfPath value
//   1 video sub-key: name, <name>\Video Service value (flag 1: a \0000 key)
//   2 Services\QVMIRROR\VIDEO VideoID value
//   3 Reinstall sub-key: name, DeviceDesc value, ReinstallString value
//   4 device: flags byte (1 not present, 2 no hardware IDs, 4 Net class,
//     8 service QVMIRROR, 16 a driver key), instance ID (empty:
//     ROOT\DISPLAY\nnnn), hardware-ID bytes, driver key name below the
//     display class (not one name: 0000)
//   5 file: folder byte (kFolders), name (one byte below 6: kFileNames),
//     attributes byte (1 read-only, 2 in use, 4 hidden)
//   6 service QVMIRROR: state byte (0 stopped, 1 running, 2 stop pending;
//     high nibble: queries a stop stays pending, 15 never), start byte
//   7 key tree: parent byte (kTreeParents), relative path (backslashes
//     nest); flags 1: deny access (flags >> 1: kDenials)
Machine Decode(const uint8_t* data, size_t size) {
    Reader in(data, size);
    Machine machine;
    fuzz::Check(winsim::MakeDirectories("C:\\Dravmel"), "could not make the log folder");
    const uint8_t flags = in.Byte();
    machine.sentinels = (flags & 1) != 0;
    winsim::SetRestartRequired((flags & 2) != 0);

    if (machine.sentinels) {
        for (const std::string& parent : kSentinelKeyParents) {
            fuzz::Check(winsim::SetRegistryString(parent + "\\" + kSentinel, "Keep", "1"),
                        "could not put a sentinel key");
        }
        for (const char* file : kSentinelFiles) {
            const std::string path = file;
            fuzz::Check(winsim::MakeDirectories(path.substr(0, path.rfind('\\'))) && winsim::PutFile(path, "keep"),
                        "could not put a sentinel file");
        }
        winsim::Device device;
        device.instance_id = kSentinelDevice;
        device.hardware_ids = winsim::MultiString({"PCI\\VEN_1234&DEV_5678"});
        fuzz::Check(winsim::AddDevice(device), "could not add the sentinel device");
    }

    unsigned generated = 0;
    while (!in.Done()) {
        const uint8_t op = in.Byte();
        const unsigned extra = op >> 3;
        switch (op & 7) {
        case 0: {
            const std::string key = kDisplayClassKey + "\\" + in.Bytes();
            winsim::CreateRegistryKey(key);
            SetValue(in, key, "MatchingDeviceId");
            SetValue(in, key, "InfPath");
            break;
        }
        case 1: {
            const std::string key = kVideoKey + "\\" + in.Bytes();
            winsim::CreateRegistryKey(key);
            if (extra & 1) {
                winsim::CreateRegistryKey(key + "\\0000");
            }
            SetValue(in, key + "\\Video", "Service");
            break;
        }
        case 2:
            winsim::CreateRegistryKey(kServiceVideoKey);
            SetValue(in, kServiceVideoKey, "VideoID");
            break;
        case 3: {
            const std::string key = kReinstallKey + "\\" + in.Bytes();
            winsim::CreateRegistryKey(key);
            SetValue(in, key, "DeviceDesc");
            SetValue(in, key, "ReinstallString");
            break;
        }
        case 4: {
            const uint8_t device_flags = in.Byte();
            winsim::Device device;
            device.instance_id = in.Bytes();
            if (device.instance_id.empty()) {
                char id[32];
                std::snprintf(id, sizeof(id), "ROOT\\DISPLAY\\%04u", generated++);
                device.instance_id = id;
            }
            const std::string ids = in.Bytes();
            const std::string driver = in.Bytes();
            device.present = (device_flags & 1) == 0;
            if ((device_flags & 2) == 0) {
                device.hardware_ids = ids;
            }
            if (device_flags & 4) {
                device.class_name = "Net";
                device.class_guid = {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
            }
            if (device_flags & 8) {
                device.service = "QVMIRROR";
            }
            // A driver key is one sub-key of a class key, as Windows names it.
            if (device_flags & 16) {
                const bool usable = !driver.empty() && driver.find('\\') == std::string::npos;
                device.driver = std::string(kDisplayGuid) + "\\" + (usable ? driver : "0000");
            }
            winsim::AddDevice(device);
            break;
        }
        case 5: {
            const std::string folder = kFolders[in.Byte() % (sizeof(kFolders) / sizeof(kFolders[0]))];
            std::string name = in.Bytes();
            if (name.size() == 1 && static_cast<uint8_t>(name[0]) < sizeof(kFileNames) / sizeof(kFileNames[0])) {
                name = kFileNames[static_cast<uint8_t>(name[0])];
            }
            const uint8_t attributes = in.Byte();
            DWORD value = FILE_ATTRIBUTE_ARCHIVE;
            if (attributes & 1) value |= FILE_ATTRIBUTE_READONLY;
            if (attributes & 4) value |= FILE_ATTRIBUTE_HIDDEN;
            const std::string path = folder + "\\" + name;
            winsim::MakeDirectories(folder);
            if (winsim::PutFile(path, "driver file", value) && (attributes & 2)) {
                winsim::SetFileInUse(path);
            }
            break;
        }
        case 6: {
            const uint8_t state = in.Byte();
            const uint8_t start = in.Byte();
            winsim::Service service;
            service.name = "QVMIRROR";
            service.start = start % 5;
            service.image_path = "\\SystemRoot\\System32\\drivers\\" QV_MIRROR_SYS;
            if (winsim::AddService(service)) {
                const DWORD states[] = {SERVICE_STOPPED, SERVICE_RUNNING, SERVICE_STOP_PENDING};
                winsim::SetServiceState("QVMIRROR", states[(state & 15) % 3]);
                const unsigned pending = state >> 4;
                winsim::ScriptServiceStop("QVMIRROR", pending == 15 ? winsim::kNeverStops : pending);
            }
            break;
        }
        case 7: {
            const std::string& parent = kTreeParents[in.Byte() % (sizeof(kTreeParents) / sizeof(kTreeParents[0]))];
            const std::string key = parent + "\\" + in.Bytes();
            if (winsim::CreateRegistryKey(key) && (extra & 1)) {
                winsim::DenyRegistryAccess(key, kDenials[(extra >> 1) % 4]);
            }
            break;
        }
        }
    }
    return machine;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

bool Contains(const std::string& text, const std::string& part) {
    return Lower(text).find(Lower(part)) != std::string::npos;
}

void CheckSentinels(const std::string& run) {
    for (const std::string& parent : kSentinelKeyParents) {
        const std::string key = parent + "\\" + kSentinel;
        fuzz::Check(winsim::GetRegistryString(key, "Keep") == std::string("1"),
                    run + ": removed a key no lookup named: " + key);
    }
    for (const char* file : kSentinelFiles) {
        fuzz::Check(winsim::FileContents(file) == std::string("keep"), run + ": removed a file no lookup named: " + file);
    }
    for (const winsim::PendingFileOperation& operation : winsim::PendingFileOperations()) {
        fuzz::Check(!Contains(operation.source, kSentinel),
                    run + ": scheduled the deletion of a file no lookup named: " + operation.source);
    }
    const std::optional<winsim::Device> device = winsim::FindDevice(kSentinelDevice);
    fuzz::Check(device && device->present, run + ": removed a device without the hardware ID");
}

bool MirrorDevicePresent() {
    for (const winsim::Device& device : winsim::Devices()) {
        if (device.present && device.hardware_ids && fuzz::ListsMirrorId(*device.hardware_ids)) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> InstanceIds() {
    std::vector<std::string> ids;
    for (const winsim::Device& device : winsim::Devices()) {
        ids.push_back(device.instance_id);
    }
    return ids;
}

void Remove(const std::string& run, bool sentinels) {
    const int code = fuzz::Run({"/R", std::string("/L:") + kRemoveLog});
    fuzz::CheckNothingLeaked(run);
    fuzz::Check(code == 0, run + ": ended with " + std::to_string(code) + ", not 0");
    fuzz::CheckClosingRecord(run, code);
    fuzz::CheckLogEnd(run, kRemoveLog, code);
    if (sentinels) {
        CheckSentinels(run);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An input that spells out a sentinel's name may name it.
    const bool sentinels = !Contains(std::string(reinterpret_cast<const char*>(data), size), kSentinel);

    winsim::Reset();
    Machine machine = Decode(data, size);
    Remove("\"/R\"", machine.sentinels && sentinels);

    winsim::Reset();
    machine = Decode(data, size);
    fuzz::PutPackage();
    const std::vector<std::string> devicesBefore = InstanceIds();
    const int code = fuzz::Run({"/A", std::string("/S:") + fuzz::kPackageFolder, std::string("/L:") + kInstallLog});
    fuzz::CheckNothingLeaked("\"/A\"");
    fuzz::Check(code == 0 || code == 50, "\"/A\" ended with " + std::to_string(code) + ", not 0 or 50");
    fuzz::CheckClosingRecord("\"/A\"", code);
    fuzz::CheckLogEnd("\"/A\"", kInstallLog, code);
    if (machine.sentinels && sentinels) {
        CheckSentinels("\"/A\"");
    }
    if (code == 0) {
        fuzz::Check(MirrorDevicePresent(), "\"/A\" ended with 0, yet no present device lists the hardware ID");
    } else {
        fuzz::Check(InstanceIds() == devicesBefore, "\"/A\" failed and left a device it created");
    }
    Remove("\"/R\" after \"/A\"", machine.sentinels && sentinels);
    // What the input allocated goes with it (libFuzzer's leak check counts).
    winsim::Reset();
    return 0;
}

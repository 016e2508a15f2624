// The registry under HKEY_LOCAL_MACHINE: RegOpenKeyExA, RegEnumKeyExA,
// RegQueryValueExA, RegCloseKey, RegDeleteKeyA, and the test helpers that
// set up, deny and inspect keys. Registry calls return their error code and leave the
// last-error value alone.
#include "state.h"

#include <winsim/machine.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace winsim::detail {
namespace {

constexpr REGSAM kDelete = 0x00010000;
constexpr REGSAM kReadControl = 0x00020000;
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericAll = 0x10000000;

// Longest key name component the registry accepts.
constexpr size_t kMaxKeyName = 255;

std::vector<std::string> SplitKeyPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool ValidKeyName(const std::string& name) { return !name.empty() && name.size() <= kMaxKeyName; }

// Generic rights map onto key rights as the key object type defines them.
REGSAM MapGenericKeyRights(REGSAM desired) {
    REGSAM mapped = desired & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (desired & (kGenericRead | kGenericExecute)) mapped |= KEY_READ;
    if (desired & kGenericWrite) mapped |= KEY_WRITE;
    if (desired & kGenericAll) mapped |= KEY_ALL_ACCESS;
    return mapped & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
}

bool IsPredefined(HKEY key) { return key == HKEY_LOCAL_MACHINE; }

// The key behind a handle, with the rights the handle holds.
LONG ResolveHandle(HKEY handle, std::shared_ptr<RegKey>* key, REGSAM* granted) {
    if (IsPredefined(handle)) {
        *key = M().registry;
        *granted = KEY_ALL_ACCESS & ~(*key)->denied;
        return ERROR_SUCCESS;
    }
    KeyHandle* open = LookupHandle<KeyHandle>(reinterpret_cast<HANDLE>(handle));
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if (open->key->deleted) return ERROR_KEY_DELETED;
    *key = open->key;
    *granted = open->granted;
    return ERROR_SUCCESS;
}

void MarkDeleted(RegKey& key) {
    key.deleted = true;
    for (const auto& entry : key.subkeys()) MarkDeleted(*entry.second);
}

// Follows a relative path down from a key; null when a part is missing.
std::shared_ptr<RegKey> Descend(std::shared_ptr<RegKey> key,
                               const std::vector<std::string>& parts) {
    for (const std::string& part : parts) {
        key = key->FindSubKey(part);
        if (!key) return nullptr;
    }
    return key;
}

}  // namespace

std::shared_ptr<RegKey> RegKey::FindSubKey(const std::string& sub_name) const {
    auto it = subkeys_.find(sub_name);
    return it == subkeys_.end() ? nullptr : it->second;
}

RegKey& RegKey::AddSubKey(std::shared_ptr<RegKey> sub) {
    cursor_valid_ = false;
    sub->parent = this;
    const std::string sub_name = sub->name;
    return *subkeys_.emplace(sub_name, std::move(sub)).first->second;
}

void RegKey::RemoveSubKey(const std::string& sub_name) {
    cursor_valid_ = false;
    subkeys_.erase(sub_name);
}

const RegKey* RegKey::SubKeyAt(size_t index) const {
    const size_t size = subkeys_.size();
    if (index >= size) return nullptr;
    SubKeys::const_iterator it;
    if (cursor_valid_ && (index >= cursor_index_ ? index - cursor_index_ : cursor_index_ - index) <=
                             std::min(index, size - 1 - index)) {
        it = cursor_;
        if (index >= cursor_index_) {
            std::advance(it, static_cast<std::ptrdiff_t>(index - cursor_index_));
        } else {
            std::advance(it, -static_cast<std::ptrdiff_t>(cursor_index_ - index));
        }
    } else if (index <= size - 1 - index) {
        it = std::next(subkeys_.begin(), static_cast<std::ptrdiff_t>(index));
    } else {
        it = std::prev(subkeys_.end(), static_cast<std::ptrdiff_t>(size - index));
    }
    cursor_ = it;
    cursor_index_ = index;
    cursor_valid_ = true;
    return it->second.get();
}

const RegValue* RegKey::FindValue(const std::string& value_name) const {
    for (const RegValue& value : values) {
        if (SameName(value.name, value_name)) {
            return &value;
        }
    }
    return nullptr;
}

void RegKey::SetValue(const std::string& value_name, DWORD type, std::string data) {
    written = CurrentFileTime();
    for (RegValue& value : values) {
        if (SameName(value.name, value_name)) {
            value.type = type;
            value.data = std::move(data);
            return;
        }
    }
    values.push_back(RegValue{value_name, type, std::move(data)});
}

bool RegKey::DeleteValue(const std::string& value_name) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (SameName(it->name, value_name)) {
            values.erase(it);
            written = CurrentFileTime();
            return true;
        }
    }
    return false;
}

std::shared_ptr<RegKey> FindKey(const std::string& path) {
    return Descend(M().registry, SplitKeyPath(path));
}

std::shared_ptr<RegKey> CreateKey(const std::string& path) {
    const std::vector<std::string> parts = SplitKeyPath(path);
    for (const std::string& part : parts) {
        if (!ValidKeyName(part)) return nullptr;
    }
    std::shared_ptr<RegKey> key = M().registry;
    for (const std::string& part : parts) {
        std::shared_ptr<RegKey> sub = key->FindSubKey(part);
        if (!sub) {
            sub = std::make_shared<RegKey>();
            sub->name = part;
            sub->written = CurrentFileTime();
            key->written = sub->written;
            key->AddSubKey(sub);
        }
        key = sub;
    }
    return key;
}

void UnlinkKey(RegKey& key) {
    // A key already out of the tree may point at a parent that is gone.
    if (key.deleted || key.parent == nullptr) return;
    MarkDeleted(key);
    RegKey* parent = key.parent;
    key.parent = nullptr;
    parent->written = CurrentFileTime();
    const std::string name = key.name;
    parent->RemoveSubKey(name);  // may free the key: nothing touches it after
}

bool DeleteKeyTree(const std::string& path) {
    std::shared_ptr<RegKey> key = FindKey(path);
    if (!key || key->parent == nullptr) return false;  // HKEY_LOCAL_MACHINE itself stays
    UnlinkKey(*key);
    return true;
}

std::optional<DWORD> DwordValue(const RegKey& key, const std::string& value_name) {
    const RegValue* value = key.FindValue(value_name);
    if (value == nullptr || value->type != REG_DWORD || value->data.size() != 4) {
        return std::nullopt;
    }
    DWORD result = 0;
    for (int i = 3; i >= 0; --i) {
        result = (result << 8) | static_cast<unsigned char>(value->data[static_cast<size_t>(i)]);
    }
    return result;
}

std::string DwordBytes(DWORD value) {
    std::string bytes(4, '\0');
    for (size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::shared_ptr<RegKey> NewRegistry(FILETIME now) {
    auto root = std::make_shared<RegKey>();
    root->name = "HKEY_LOCAL_MACHINE";
    root->written = now;
    // Built directly: the machine that will own it does not exist yet.
    auto add = [&](const std::string& path) {
        RegKey* key = root.get();
        for (const std::string& part : SplitKeyPath(path)) {
            std::shared_ptr<RegKey> sub = key->FindSubKey(part);
            if (!sub) {
                sub = std::make_shared<RegKey>();
                sub->name = part;
                sub->written = now;
                key->AddSubKey(sub);
            }
            key = sub.get();
        }
        return key;
    };
    add("SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    add("SYSTEM\\CurrentControlSet\\Enum");
    add("SYSTEM\\CurrentControlSet\\Services");
    add("SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    RegKey* display =
        add("SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}");
    display->values.push_back(RegValue{"", REG_SZ, std::string("Display adapters", 17)});
    display->values.push_back(RegValue{"Class", REG_SZ, std::string("Display", 8)});
    return root;
}

}  // namespace winsim::detail

using namespace winsim::detail;

// ---------------------------------------------------------------------------
// Win32 registry calls

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    // On failure the caller's handle is set to NULL.
    *phkResult = nullptr;
    if (auto fault = EnterCall("RegOpenKeyExA")) return static_cast<LONG>(*fault);
    std::shared_ptr<RegKey> key;
    REGSAM parent_rights = 0;
    if (LONG error = ResolveHandle(hKey, &key, &parent_rights)) return error;
    key = Descend(key, SplitKeyPath(lpSubKey));
    if (!key) return ERROR_FILE_NOT_FOUND;
    const REGSAM granted = MapGenericKeyRights(samDesired);
    if (granted & key->denied) return ERROR_ACCESS_DENIED;
    auto handle = std::make_unique<KeyHandle>();
    handle->key = key;
    handle->granted = granted;
    *phkResult = reinterpret_cast<HKEY>(AddHandle(std::move(handle)));
    return ERROR_SUCCESS;
}

// Class names and last write times are not simulated.
LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR, LPDWORD,
                          FILETIME*) {
    if (auto fault = EnterCall("RegEnumKeyExA")) return static_cast<LONG>(*fault);
    std::shared_ptr<RegKey> key;
    REGSAM granted = 0;
    if (LONG error = ResolveHandle(hKey, &key, &granted)) return error;
    if (!(granted & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    const RegKey* found = key->SubKeyAt(dwIndex);
    if (found == nullptr) return ERROR_NO_MORE_ITEMS;
    const RegKey& sub = *found;
    // The name must fit with its terminator; if not, the buffer and the
    // count are both left as they were.
    if (sub.name.size() >= *lpcchName) return ERROR_MORE_DATA;
    std::memcpy(lpName, sub.name.c_str(), sub.name.size() + 1);
    *lpcchName = static_cast<DWORD>(sub.name.size());
    return ERROR_SUCCESS;
}

// The value's type is not handed back; data and size are.
LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD, LPBYTE lpData, LPDWORD lpcbData) {
    if (auto fault = EnterCall("RegQueryValueExA")) return static_cast<LONG>(*fault);
    std::shared_ptr<RegKey> key;
    REGSAM granted = 0;
    if (LONG error = ResolveHandle(hKey, &key, &granted)) return error;
    const RegValue* value = key->FindValue(lpValueName);
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    const DWORD size = static_cast<DWORD>(value->data.size());
    if (size > *lpcbData) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    // Exactly the stored bytes: a string stored without its terminator gets
    // none, even where the buffer has room for one.
    if (size != 0) std::memcpy(lpData, value->data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    if (auto fault = EnterCall("RegCloseKey")) return static_cast<LONG>(*fault);
    // Closing a predefined key does nothing and succeeds.
    if (IsPredefined(hKey)) return ERROR_SUCCESS;
    HANDLE handle = reinterpret_cast<HANDLE>(hKey);
    if (LookupHandle<KeyHandle>(handle) == nullptr) return ERROR_INVALID_HANDLE;
    RemoveHandle(handle);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (auto fault = EnterCall("RegDeleteKeyA")) return static_cast<LONG>(*fault);
    // The rights of hKey do not matter: the key is opened anew for DELETE.
    std::shared_ptr<RegKey> key;
    REGSAM parent_rights = 0;
    if (LONG error = ResolveHandle(hKey, &key, &parent_rights)) return error;
    key = Descend(key, SplitKeyPath(lpSubKey));
    if (!key) return ERROR_FILE_NOT_FOUND;
    if (key->denied & kDelete) return ERROR_ACCESS_DENIED;
    // Only a key without sub-keys can go.
    if (!key->subkeys().empty()) return ERROR_ACCESS_DENIED;
    UnlinkKey(*key);
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Test helpers

namespace winsim {

bool CreateRegistryKey(const std::string& path) { return detail::CreateKey(path) != nullptr; }

bool SetRegistryValue(const std::string& key, const std::string& name, DWORD type,
                      const std::string& data) {
    std::shared_ptr<RegKey> k = detail::CreateKey(key);
    if (!k) return false;
    k->SetValue(name, type, data);
    return true;
}

bool SetRegistryString(const std::string& key, const std::string& name, const std::string& value) {
    return SetRegistryValue(key, name, REG_SZ, std::string(value.c_str(), value.size() + 1));
}

bool SetRegistryDword(const std::string& key, const std::string& name, DWORD value) {
    return SetRegistryValue(key, name, REG_DWORD, detail::DwordBytes(value));
}

bool RegistryKeyExists(const std::string& path) { return detail::FindKey(path) != nullptr; }

std::optional<RegistryValue> GetRegistryValue(const std::string& key, const std::string& name) {
    std::shared_ptr<RegKey> k = detail::FindKey(key);
    if (!k) return std::nullopt;
    const RegValue* value = k->FindValue(name);
    if (value == nullptr) return std::nullopt;
    return RegistryValue{value->type, value->data};
}

std::vector<std::string> RegistrySubKeys(const std::string& path) {
    std::vector<std::string> names;
    std::shared_ptr<RegKey> key = detail::FindKey(path);
    if (!key) return names;
    for (const auto& entry : key->subkeys()) names.push_back(entry.second->name);
    return names;
}

std::vector<std::string> RegistryValueNames(const std::string& path) {
    std::vector<std::string> names;
    std::shared_ptr<RegKey> key = detail::FindKey(path);
    if (!key) return names;
    for (const RegValue& value : key->values) names.push_back(value.name);
    return names;
}

bool DenyRegistryAccess(const std::string& path, REGSAM rights) {
    std::shared_ptr<RegKey> key = detail::FindKey(path);
    if (!key) return false;
    // READ_CONTROL is part of every KEY_* mask; denying it would make
    // KEY_WRITE deny reading too, so only the other rights count.
    key->denied =
        detail::MapGenericKeyRights(rights) & ~detail::kReadControl & ~detail::kMaximumAllowed;
    return true;
}

}  // namespace winsim

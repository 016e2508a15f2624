#include "conformance.h"

#ifndef _WIN32
#include <winsim/machine.h>
#endif

#include <algorithm>
#include <cstdio>

bool RunningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

void NoteWineDifference(const char* what) {
    std::printf("[   WINE   ] known Wine difference: %s\n", what);
    std::fflush(stdout);
}

namespace {

constexpr const char kFolderName[] = "dravmel-conformance";

template <typename T>
void Erase(std::vector<T>& items, const T& item) {
    items.erase(std::remove(items.begin(), items.end(), item), items.end());
}

}  // namespace

void PlatformTest::SetUp() {
#ifndef _WIN32
    winsim::Reset();
#endif
    char temp[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof temp, temp);
    ASSERT_GT(length, 0u) << "GetTempPathA failed, error " << GetLastError();
    ASSERT_LT(length, sizeof temp);
    root_ = std::string(temp, length) + kFolderName;
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr))
        << "cannot make the working folder " << root_ << ", error " << GetLastError();
    made_root_ = true;
}

void PlatformTest::TearDown() {
    for (HANDLE search : searches_open_) FindClose(search);
    searches_open_.clear();
    for (HANDLE file : files_open_) CloseHandle(file);
    files_open_.clear();
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) DeleteFileA(it->c_str());
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) RemoveDirectoryA(it->c_str());
    if (made_root_) {
        EXPECT_TRUE(RemoveDirectoryA(root_.c_str()))
            << "the working folder is not empty or still in use, error " << GetLastError();
    }
}

std::string PlatformTest::Path(const std::string& name) const { return root_ + "\\" + name; }

HANDLE PlatformTest::Keep(HANDLE file) {
    if (file != INVALID_HANDLE_VALUE && file != nullptr) files_open_.push_back(file);
    return file;
}

HANDLE PlatformTest::KeepFind(HANDLE search) {
    if (search != INVALID_HANDLE_VALUE && search != nullptr) searches_open_.push_back(search);
    return search;
}

BOOL PlatformTest::Close(HANDLE file) {
    Erase(files_open_, file);
    return CloseHandle(file);
}

BOOL PlatformTest::CloseFind(HANDLE search) {
    Erase(searches_open_, search);
    return FindClose(search);
}

void PlatformTest::Forget(HANDLE file) { Erase(files_open_, file); }

void PlatformTest::Owns(const std::string& path) { files_.push_back(path); }

void PlatformTest::OwnsDir(const std::string& path) { dirs_.push_back(path); }

bool PlatformTest::MakeDir(const std::string& name) {
    std::string path = Path(name);
    if (!CreateDirectoryA(path.c_str(), nullptr)) {
        ADD_FAILURE() << "CreateDirectoryA(" << path << ") failed, error " << GetLastError();
        return false;
    }
    OwnsDir(path);
    return true;
}

bool PlatformTest::PutFile(const std::string& name, const std::string& contents) {
    std::string path = Path(name);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot create " << path << ", error " << GetLastError();
        return false;
    }
    Owns(path);
    bool written = WriteAll(file, contents);
    if (!CloseHandle(file)) {
        ADD_FAILURE() << "CloseHandle failed, error " << GetLastError();
        return false;
    }
    return written;
}

std::optional<std::string> PlatformTest::Contents(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open " << path << ", error " << GetLastError();
        return std::nullopt;
    }
    std::optional<std::string> contents = ReadRest(file);
    if (!CloseHandle(file)) ADD_FAILURE() << "CloseHandle failed, error " << GetLastError();
    return contents;
}

std::optional<std::string> PlatformTest::ReadRest(HANDLE file) {
    std::string contents;
    char chunk[512];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &read, nullptr)) {
            ADD_FAILURE() << "ReadFile failed, error " << GetLastError();
            return std::nullopt;
        }
        if (read == 0) return contents;
        contents.append(chunk, read);
    }
}

bool PlatformTest::WriteAll(HANDLE file, const std::string& data) {
    DWORD written = 0;
    if (!WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
        ADD_FAILURE() << "WriteFile failed, error " << GetLastError();
        return false;
    }
    if (written != data.size()) {
        ADD_FAILURE() << "WriteFile wrote " << written << " of " << data.size() << " bytes";
        return false;
    }
    return true;
}

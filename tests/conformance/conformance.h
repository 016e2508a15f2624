// Shared fixture of the platform conformance tests. The same sources build
// against winsim on the host and against the Windows SDK (MinGW-w64), whose
// program runs under Wine.
#pragma once

#include "platform.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

// Poison for the last-error value before a call under test.
constexpr DWORD kPoison = 0xdeadbeef;

// The last-error value equals an error code (the SDK's codes are longs).
#define EXPECT_LAST_ERROR(code) EXPECT_EQ(GetLastError(), static_cast<DWORD>(code))

// True when running under Wine (ntdll exports wine_get_version). Where Wine
// is known to differ from Windows, a test checks Wine's behaviour explicitly
// and prints a "known Wine difference" note.
bool RunningUnderWine();
void NoteWineDifference(const char* what);

// Every test gets a fresh, empty working folder under the temporary folder;
// what a test creates there through the helpers is removed afterwards, and
// the folder itself must then be removable (nothing left open or behind).
class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Full path of a name inside the working folder (joined with one '\').
    std::string Path(const std::string& name) const;
    const std::string& Root() const { return root_; }

    // Remember a handle (file or search) to close in TearDown; an
    // INVALID_HANDLE_VALUE is passed through and not remembered.
    HANDLE Keep(HANDLE file);
    HANDLE KeepFind(HANDLE search);
    // Close a remembered handle now; returns what CloseHandle/FindClose did.
    BOOL Close(HANDLE file);
    BOOL CloseFind(HANDLE search);
    // Stop tracking a handle that the test closes itself.
    void Forget(HANDLE file);

    // Remember a file or folder (full path) to delete in TearDown.
    void Owns(const std::string& path);
    void OwnsDir(const std::string& path);

    // Helpers over the working folder; they report their own failures.
    bool MakeDir(const std::string& name);
    bool PutFile(const std::string& name, const std::string& contents);
    // Contents of a file, opened for reading with read and write sharing.
    std::optional<std::string> Contents(const std::string& path);
    // Everything from the handle's current position to its end.
    std::optional<std::string> ReadRest(HANDLE file);
    bool WriteAll(HANDLE file, const std::string& data);

private:
    std::string root_;
    bool made_root_ = false;
    std::vector<HANDLE> files_open_;
    std::vector<HANDLE> searches_open_;
    std::vector<std::string> files_;
    std::vector<std::string> dirs_;
};

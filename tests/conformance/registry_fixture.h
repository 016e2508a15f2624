// Fixture of the registry tests: each test works below a key of
// HKEY_LOCAL_MACHINE of its own, deleted afterwards on Windows (the
// simulated machine starts empty for every test).
#pragma once

#include "conformance.h"

#ifndef _WIN32
#include <winsim/machine.h>
#endif

#include <string>
#include <utility>
#include <vector>

class RegistryPlatformTest : public PlatformTest {
protected:
    explicit RegistryPlatformTest(std::string base) : base_(std::move(base)) {}

    void TearDown() override {
        for (HKEY key : open_) RegCloseKey(key);
#ifdef _WIN32
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, base_.c_str());
#endif
        PlatformTest::TearDown();
    }

    std::string Below(const std::string& sub) const { return base_ + "\\" + sub; }

    // Set-up only: a key below the base, with missing parents.
    void MakeKey(const std::string& sub) {
#ifdef _WIN32
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, Below(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
#else
        ASSERT_TRUE(winsim::CreateRegistryKey(Below(sub)));
#endif
    }

    // Set-up only: a value below the base with exactly these bytes.
    void SetValue(const std::string& sub, const char* name, DWORD type, const std::string& data) {
#ifdef _WIN32
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, Below(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        // RegSetValueExA adds a terminator to a string when the byte after
        // the data is zero; a copy with a non-zero byte there keeps the data
        // exactly as given.
        std::string copy = data + 'X';
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(copy.data()),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
#else
        ASSERT_TRUE(winsim::SetRegistryValue(Below(sub), name, type, data));
#endif
    }

    // Opens a key of HKEY_LOCAL_MACHINE, closed in TearDown.
    HKEY Open(const std::string& path, REGSAM access = KEY_READ) {
        HKEY key = nullptr;
        const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key);
        EXPECT_EQ(result, ERROR_SUCCESS) << path;
        if (result == ERROR_SUCCESS) open_.push_back(key);
        return key;
    }

    // The test closes the handle itself rather than TearDown.
    void Forget(HKEY key) {
        for (auto it = open_.begin(); it != open_.end(); ++it) {
            if (*it == key) {
                open_.erase(it);
                return;
            }
        }
    }

    // What opening a key of HKEY_LOCAL_MACHINE for reading gives.
    static LONG Opens(const std::string& path) {
        HKEY key = nullptr;
        const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
        if (result == ERROR_SUCCESS) RegCloseKey(key);
        return result;
    }

    std::vector<HKEY> open_;

private:
    std::string base_;
};

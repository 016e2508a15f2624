// MoveFileExA: moves at once, and moves and deletions delayed until the next
// restart (the uninstaller removes driver files that way), which the session
// manager keeps in HKLM\SYSTEM\CurrentControlSet\Control\Session Manager,
// PendingFileRenameOperations, as pairs of NT paths. Each test puts the
// value back as it found it.

#include "conformance.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPending[] = "PendingFileRenameOperations";

using Pair = std::pair<std::string, std::string>;

// The value's bytes, or nothing when it is not there.
std::optional<std::string> PendingBytes(DWORD* type = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::optional<std::string> bytes;
    DWORD size = 0;
    DWORD stored_type = REG_NONE;
    if (RegQueryValueExA(key, kPending, nullptr, &stored_type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        if (RegQueryValueExA(key, kPending, nullptr, &stored_type,
                             reinterpret_cast<BYTE*>(&data[0]), &size) == ERROR_SUCCESS) {
            data.resize(size);
            bytes = data;
            if (type != nullptr) *type = stored_type;
        }
    }
    RegCloseKey(key);
    return bytes;
}

// Source and target of each recorded operation, in order.
std::vector<Pair> PendingPairs() {
    std::vector<Pair> pairs;
    const std::string data = PendingBytes().value_or("");
    std::vector<std::string> strings;
    for (size_t at = 0; at < data.size();) {
        size_t end = data.find('\0', at);
        if (end == std::string::npos) end = data.size();
        strings.push_back(data.substr(at, end - at));
        at = end + 1;
    }
    for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
        pairs.emplace_back(strings[i], strings[i + 1]);
    }
    return pairs;
}

std::string Nt(const std::string& path) { return "\\??\\" + path; }

class MoveFileTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        if (HasFatalFailure()) return;
        saved_ = PendingBytes();
        before_ = PendingPairs().size();
    }
    void TearDown() override {
#ifdef _WIN32
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) ==
            ERROR_SUCCESS) {
            if (saved_) {
                RegSetValueExA(key, kPending, 0, REG_MULTI_SZ,
                               reinterpret_cast<const BYTE*>(saved_->data()),
                               static_cast<DWORD>(saved_->size()));
            } else {
                RegDeleteValueA(key, kPending);
            }
            RegCloseKey(key);
        }
#endif
        PlatformTest::TearDown();
    }

    // The operations this test recorded.
    std::vector<Pair> Recorded() const {
        std::vector<Pair> pairs = PendingPairs();
        if (pairs.size() < before_) return {};
        return std::vector<Pair>(pairs.begin() + static_cast<std::ptrdiff_t>(before_), pairs.end());
    }

    std::optional<std::string> saved_;
    size_t before_ = 0;
};

bool Found(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---------------------------------------------------------------------------
// Delayed until the next restart

TEST_F(MoveFileTest, ADelayedDeletionIsRecordedAndTheFileStays) {
    ASSERT_TRUE(PutFile("QVMIRx64.DLL", "MZ"));
    const std::string path = Path("QVMIRx64.DLL");
    SetLastError(kPoison);
    EXPECT_TRUE(MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        << "error " << GetLastError();
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_TRUE(Found(path));
    EXPECT_EQ(Recorded(), (std::vector<Pair>{{Nt(path), ""}}));
}

TEST_F(MoveFileTest, TheOperationsFormAMultiStringInTheOrderMade) {
    ASSERT_TRUE(PutFile("first.sys", "MZ"));
    ASSERT_TRUE(PutFile("second.dll", "MZ"));
    ASSERT_TRUE(MoveFileExA(Path("first.sys").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA(Path("second.dll").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(Recorded(), (std::vector<Pair>{{Nt(Path("first.sys")), ""},
                                             {Nt(Path("second.dll")), ""}}));
    DWORD type = REG_NONE;
    const std::string bytes = PendingBytes(&type).value_or("");
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    const std::string tail = Nt(Path("second.dll")) + std::string("\0\0\0", 3);
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail)
        << "the empty target, then the list's own terminator";
}

// Whether the file is there is for the restart to find out.
TEST_F(MoveFileTest, AMissingFileOrFolderIsRecordedAnyway) {
    for (const char* name : {"missing.sys", "no folder\\missing.sys"}) {
        SCOPED_TRACE(name);
        SetLastError(kPoison);
        EXPECT_TRUE(MoveFileExA(Path(name).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
        EXPECT_EQ(GetLastError(), kPoison);
    }
    EXPECT_EQ(Recorded().size(), 2u);
}

TEST_F(MoveFileTest, AFileInUseWithoutDeleteSharingIsRecorded) {
    ASSERT_TRUE(PutFile("QVMIRx64.SYS", "MZ"));
    const std::string path = Path("QVMIRx64.SYS");
    HANDLE file = Keep(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        << "error " << GetLastError();
    EXPECT_EQ(Recorded(), (std::vector<Pair>{{Nt(path), ""}}));
}

TEST_F(MoveFileTest, ADelayedMoveThatMayReplaceHasAnExclamationMark) {
    ASSERT_TRUE(PutFile("new.sys", "MZ"));
    const std::string source = Path("new.sys");
    ASSERT_TRUE(MoveFileExA(source.c_str(), Path("kept.sys").c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA(source.c_str(), Path("replaced.sys").c_str(),
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(Recorded(), (std::vector<Pair>{{Nt(source), Nt(Path("kept.sys"))},
                                             {Nt(source), "!" + Nt(Path("replaced.sys"))}}));
    EXPECT_TRUE(Found(source));
}

TEST_F(MoveFileTest, CopyingCannotBeDelayed) {
    ASSERT_TRUE(PutFile("new.sys", "MZ"));
    SetLastError(kPoison);
    const BOOL done = MoveFileExA(Path("new.sys").c_str(), Path("other.sys").c_str(),
                                  MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED);
    if (RunningUnderWine()) {
        NoteWineDifference("MoveFileExA records a delayed move that allows copying");
        EXPECT_TRUE(done);
        EXPECT_EQ(Recorded().size(), 1u);
    } else {
        EXPECT_FALSE(done);
        EXPECT_LAST_ERROR(ERROR_INVALID_PARAMETER);
        EXPECT_TRUE(Recorded().empty());
    }
}

TEST_F(MoveFileTest, NoSourceIsPathNotFound) {
    for (const char* source : {static_cast<const char*>(nullptr), ""}) {
        for (DWORD flags : {DWORD{0}, static_cast<DWORD>(MOVEFILE_DELAY_UNTIL_REBOOT)}) {
            SCOPED_TRACE(flags);
            SetLastError(kPoison);
            EXPECT_FALSE(MoveFileExA(source, Path("target.sys").c_str(), flags));
            EXPECT_LAST_ERROR(ERROR_PATH_NOT_FOUND);
        }
    }
    EXPECT_TRUE(Recorded().empty());
}

// ---------------------------------------------------------------------------
// At once

TEST_F(MoveFileTest, MovesAFileToAFreeName) {
    ASSERT_TRUE(PutFile("old.inf", "[Version]"));
    ASSERT_TRUE(MakeDir("sub"));
    const std::string target = Path("sub\\new.inf");
    SetLastError(kPoison);
    ASSERT_TRUE(MoveFileExA(Path("old.inf").c_str(), target.c_str(), 0))
        << "error " << GetLastError();
    Owns(target);
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_FALSE(Found(Path("old.inf")));
    EXPECT_EQ(Contents(target), "[Version]");
    EXPECT_TRUE(Recorded().empty());
}

TEST_F(MoveFileTest, AnExistingTargetStaysUnlessReplacing) {
    ASSERT_TRUE(PutFile("old.inf", "new contents"));
    ASSERT_TRUE(PutFile("taken.inf", "old contents"));
    SetLastError(kPoison);
    EXPECT_FALSE(MoveFileExA(Path("old.inf").c_str(), Path("taken.inf").c_str(), 0));
    EXPECT_LAST_ERROR(ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Contents(Path("taken.inf")), "old contents");
    EXPECT_TRUE(MoveFileExA(Path("old.inf").c_str(), Path("taken.inf").c_str(),
                            MOVEFILE_REPLACE_EXISTING))
        << "error " << GetLastError();
    EXPECT_EQ(Contents(Path("taken.inf")), "new contents");
    EXPECT_FALSE(Found(Path("old.inf")));
}

TEST_F(MoveFileTest, AMissingSourceIsNotFound) {
    const struct {
        const char* name;
        DWORD error;
    } cases[] = {
        {"missing.sys", ERROR_FILE_NOT_FOUND},
        {"no folder\\missing.sys", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kPoison);
        EXPECT_FALSE(MoveFileExA(Path(c.name).c_str(), Path("target.sys").c_str(), 0));
        EXPECT_LAST_ERROR(c.error);
    }
}

TEST_F(MoveFileTest, AFileOpenWithoutDeleteSharingDoesNotMove) {
    ASSERT_TRUE(PutFile("QVMIRx64.SYS", "MZ"));
    HANDLE file = Keep(CreateFileA(Path("QVMIRx64.SYS").c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetLastError(kPoison);
    EXPECT_FALSE(MoveFileExA(Path("QVMIRx64.SYS").c_str(), Path("moved.sys").c_str(), 0));
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(Found(Path("moved.sys")));
}

}  // namespace

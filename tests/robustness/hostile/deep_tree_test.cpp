// Key trees below the keys the removal deletes, down to the 512 levels
// Windows allows: the removal ends, takes what a MAX_PATH path can reach,
// reports the rest once and leaves it with every key above it.
#include "hostile_machine.h"

#include <algorithm>
#include <string>

namespace hostile {
namespace {

std::string Key(const std::string& parent, const std::string& name) { return parent + "\\" + name; }

// Levels of a key path: HKEY_LOCAL_MACHINE counts as the first.
size_t Levels(const std::string& path) { return static_cast<size_t>(std::count(path.begin(), path.end(), '\\')) + 2; }

struct DeepCase {
    const char* name;
    std::string root;     // the key the removal deletes
    size_t nameLength;    // of each key below "Deep"
    size_t deepestLevel;  // 0: deepestLength decides
    size_t deepestLength;
    bool withChild;     // one more key below the deepest
    bool left;          // the tree stays
    unsigned keptParts;
    Lines keys;   // what goes
    Lines files;
};

void PrintTo(const DeepCase& param, std::ostream* os) { *os << param.name; }

// root\Deep\... down to the level or the path length asked for.
std::string BuildChain(const DeepCase& test) {
    std::string path = Key(test.root, "Deep");
    const std::string name(test.nameLength, 'd');
    if (test.deepestLevel != 0) {
        while (Levels(path) < test.deepestLevel) {
            path += "\\" + name;
        }
    } else {
        while (path.size() + 1 + test.nameLength < test.deepestLength) {
            path += "\\" + name;
        }
        path += "\\" + std::string(test.deepestLength - path.size() - 1, 'e');
    }
    if (test.withChild) {
        path += "\\f";
    }
    return path;
}

size_t CountPathTooLong() {
    const Lines& output = winsim::DebugOutput();
    return static_cast<size_t>(std::count_if(output.begin(), output.end(), [](const std::string& entry) {
        return entry.find(",QV_DeleteAllSubKey,Error: Path too long. [") != std::string::npos;
    }));
}

class DeepTreeRemovalTest : public InstalledMachineTest, public ::testing::WithParamInterface<DeepCase> {};

TEST_P(DeepTreeRemovalTest, EndsAndLeavesOnlyWhatNoPathReaches) {
    const DeepCase& test = GetParam();
    const std::string deepest = BuildChain(test);
    ASSERT_TRUE(winsim::CreateRegistryKey(deepest));
    if (test.deepestLevel != 0) {
        ASSERT_EQ(Levels(deepest), test.deepestLevel);
    } else {
        ASSERT_EQ(deepest.size(), test.deepestLength + (test.withChild ? 2 : 0));
    }
    const Snapshot before = Take();
    winsim::ClearDebugOutput();

    EXPECT_EQ(RemoveAndRestart(), 0);

    Removal expected = Expected(test.keptParts);
    expected.keys.insert(expected.keys.end(), test.keys.begin(), test.keys.end());
    expected.files.insert(expected.files.end(), test.files.begin(), test.files.end());
    ExpectRemoved(before, Take(), expected);
    EXPECT_EQ(winsim::RegistryKeyExists(deepest), test.left);
    // One report where the paths stop fitting; none when they all fit.
    const bool tooLong = test.deepestLevel != 0 || test.deepestLength >= MAX_PATH;
    EXPECT_EQ(CountPathTooLong(), tooLong ? 1u : 0u);
    if (test.left) {
        EXPECT_TRUE(Traced("QV_DeleteRegistry", "Error: RegDeleteKey(Err=5) Key=" + test.root + "\n"));
    }
    // Each key is enumerated a bounded number of times.
    EXPECT_LT(winsim::CallCount("RegEnumKeyExA"), 2000u);
}

const std::string kVideoA = Key(kVideoKey, kGuidA);
const std::string kProfileA = Key(kProfileVideoKey, kGuidA);
const std::string kReinstallEntry = Key(kReinstallKey, "0003");
const Lines kVideoLeft = {Key(kVideoKey, kGuidB), Key(kVideoA, "0000"), Key(kVideoA, "Video")};

Lines BackupFiles() {
    Lines files;
    for (const char* file : kDriverFiles) {
        files.push_back(kBackup + "\\" + file);
    }
    return files;
}

INSTANTIATE_TEST_SUITE_P(
    Trees, DeepTreeRemovalTest,
    ::testing::Values(
        DeepCase{"DeepestPathOf259Goes", kVideoA, 1, 0, 259, false, false, 0, {}, {}},
        DeepCase{"LeafWithAPathOf260Goes", kVideoA, 1, 0, 260, false, false, 0, {}, {}},
        DeepCase{"KeyWithAPathOf260AndASubKeyStays", kVideoA, 1, 0, 260, true, true, kVideoPart, kVideoLeft, {}},
        DeepCase{"VideoKey512LevelsDeep", kVideoA, 1, 512, 0, false, true, kVideoPart, kVideoLeft, {}},
        DeepCase{"VideoKeyWithNamesOf255", kVideoA, 255, 10, 0, false, true, kVideoPart, kVideoLeft, {}},
        DeepCase{"ProfileKey512LevelsDeep", kProfileA, 1, 512, 0, false, true, kProfilePart,
                 {Key(kProfileA, "0000")}, {}},
        DeepCase{"ReinstallKey512LevelsDeep", kReinstallEntry, 1, 512, 0, false, true, kReinstallPart, {},
                 BackupFiles()}),
    [](const ::testing::TestParamInfo<DeepCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostile

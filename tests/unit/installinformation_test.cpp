// The install-information record: its setters' limits and its operation codes.
#include "installinformation.h"
#include "trace_harness.h"
#include "winsim_test.h"

#include <string>

namespace {

using Lines = std::vector<std::string>;

class InstallInformationTest : public WinsimTest {
protected:
    CInstallInformation info;
};

TEST_F(InstallInformationTest, StartsEmpty) {
    EXPECT_EQ(info.GetOperationType(), static_cast<DWORD>(OPERATION_NONE));
    EXPECT_EQ(info.GetInstImageDirLength(), 0);
    EXPECT_EQ(info.GetLogFileNameLength(), 0);
}

TEST_F(InstallInformationTest, InvalidOperationClearsTheChosenOne) {
    info.SetOperationType(OPERATION_INSTALL);
    info.SetOperationType(0x30);
    EXPECT_EQ(info.GetOperationType(), static_cast<DWORD>(OPERATION_NONE));
    info.SetOperationType(OPERATION_UNINSTALL);
    EXPECT_EQ(info.GetOperationType(), static_cast<DWORD>(OPERATION_UNINSTALL));
    EXPECT_EQ(Trace(), (Lines{"SetOperationType: SetOperationType(0x10)\n",
                              "SetOperationType: SetOperationType(0x30)\n",
                              "SetOperationType: SetOperationType(0x20)\n"}));
}

// Both text setters, at and past the field's capacity of 259 characters.
struct TextField {
    const char* name;
    DWORD (CInstallInformation::*set)(LPCSTR);
    LPCSTR (CInstallInformation::*get)() const;
    int (CInstallInformation::*length)() const;
};

void PrintTo(const TextField& param, std::ostream* os) { *os << param.name; }

class TextFieldTest : public WinsimTest, public ::testing::WithParamInterface<TextField> {
protected:
    CInstallInformation info;
    DWORD Set(const std::string& text) { return (info.*GetParam().set)(text.c_str()); }
    std::string Get() { return (info.*GetParam().get)(); }
    int Length() { return (info.*GetParam().length)(); }
};

TEST_P(TextFieldTest, Stores259Characters) {
    const std::string text(259, 'a');
    EXPECT_EQ(Set(text), 0u);
    EXPECT_EQ(Get(), text);
    EXPECT_EQ(Length(), 259);
    EXPECT_TRUE(winsim::DebugOutput().empty());
}

TEST_P(TextFieldTest, RefusesLongerTextAndKeepsTheEarlierValue) {
    ASSERT_EQ(Set("earlier"), 0u);
    for (size_t length : {260u, 300u, 4000u}) {
        winsim::ClearDebugOutput();
        EXPECT_EQ(Set(std::string(length, 'b')), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(Get(), "earlier");
        EXPECT_EQ(Trace(), (Lines{"dbg: BuffSize(" + std::string(GetParam().name) +
                                  ")=260, Need=" + std::to_string(length) + "\n"}));
    }
}

TEST_P(TextFieldTest, EmptyTextLeavesTheFieldUnspecified) {
    ASSERT_EQ(Set("earlier"), 0u);
    EXPECT_EQ(Set(""), 0u);
    EXPECT_EQ(Length(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Record, TextFieldTest,
    ::testing::Values(TextField{"InstImageDir", &CInstallInformation::SetInstImageDir,
                                &CInstallInformation::GetInstImageDir,
                                &CInstallInformation::GetInstImageDirLength},
                      TextField{"LogFileName", &CInstallInformation::SetLogFileName,
                                &CInstallInformation::GetLogFileName,
                                &CInstallInformation::GetLogFileNameLength}),
    [](const ::testing::TestParamInfo<TextField>& info) { return std::string(info.param.name); });

}  // namespace

// The object picker's scope and filters for the Java side's five choices.
// The numbers are the directory-services picker's flags: 0x1 the target
// computer, 0x36F every scope but the global catalog and workgroups, 0xC0
// users and groups shown by default; up-level 0x3F4 groups, 0x2 users, 0x8
// well-known principals; down-level 0x80000006 local and global groups,
// 0x80000001 users, 0x80020000 all well-known SIDs, 0x800C4000 System, Local
// Service and Network Service.
#include "natives/picker_scope.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using picker::Choices;
using picker::Scope;

struct Case {
    const char* what;
    Choices choices;  // multiSelect, groups, users, wellKnownPrincipals, localComputerOnly
    std::uint32_t types;
    std::uint32_t uplevel;
    std::uint32_t downlevel;
    std::uint32_t options;
};

TEST(PickerScope, ChoicesGiveTheScopeFiltersAndOptions) {
    const std::vector<Case> cases = {
        {"nothing chosen", {false, false, false, false, false}, 0x36F, 0, 0, 0},
        {"users on this computer", {false, false, true, false, true}, 0x1, 0x2, 0x80000001, 0},
        {"groups everywhere, several", {true, true, false, false, false}, 0x36F, 0x3F4, 0x80000006, 0x1},
        {"users and service accounts", {false, false, true, true, false}, 0x36F, 0xA, 0x800C4001, 0},
        {"well-known principals alone", {false, false, false, true, true}, 0x1, 0x8, 0x800C4000, 0},
        {"groups and every well-known SID", {false, true, false, true, false}, 0x36F, 0x3FC, 0x80020006, 0},
        {"everything", {true, true, true, true, true}, 0x1, 0x3FE, 0x80020007, 0x1},
    };
    for (const Case& c : cases) {
        const Scope scope = picker::scopeFor(c.choices);
        EXPECT_EQ(scope.types, c.types) << c.what;
        EXPECT_EQ(scope.flags, 0xC0u) << c.what;
        EXPECT_EQ(scope.uplevelBothModes, c.uplevel) << c.what;
        EXPECT_EQ(scope.uplevelMixedOnly, 0u) << c.what;
        EXPECT_EQ(scope.uplevelNativeOnly, 0u) << c.what;
        EXPECT_EQ(scope.downlevel, c.downlevel) << c.what;
        EXPECT_EQ(scope.pickerOptions, c.options) << c.what;
    }
}

}  // namespace

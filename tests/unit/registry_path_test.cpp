// The registry key path rules of the registry layer, portable and run under
// the sanitizers.
#include "launcher/registry_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace registry;

namespace {

TEST(RegistryKeyPaths, RootItselfAndLastElement) {
    EXPECT_FALSE(namesKeyBelowRoot(nullptr));
    for (const char16_t* root : {u"", u"\\", u"\\\\"}) EXPECT_FALSE(namesKeyBelowRoot(root));
    for (const char16_t* below : {u"a", u"\\a", u"SOFTWARE\\x", u"a\\"}) EXPECT_TRUE(namesKeyBelowRoot(below));

    struct Case {
        std::u16string path, parent, leaf;
    };
    const std::vector<Case> cases = {
        {u"SOFTWARE\\a\\b", u"SOFTWARE\\a", u"b"},
        {u"SOFTWARE\\a\\b\\\\", u"SOFTWARE\\a", u"b"},
        {u"leaf", u"", u"leaf"},
        {u"\\leaf", u"", u"leaf"},
        {u"\\", u"", u""},
    };
    for (const Case& c : cases) {
        const KeyPathParts parts = splitKeyPath(c.path);
        EXPECT_EQ(parts.parent, c.parent);
        EXPECT_EQ(parts.leaf, c.leaf);
    }
}

}  // namespace

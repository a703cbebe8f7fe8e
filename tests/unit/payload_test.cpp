#include "launcher/payload.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

TEST(PayloadNames, WalkStopsAtCountEmptyNameOrEndOfList) {
    struct Case {
        const char* list;
        int count;
        Names expected;
    } cases[] = {
        {"tvxruntime.jar;tvxparams.conf;", 2, {"tvxruntime.jar", "tvxparams.conf"}},
        {"a;b;c", 2, {"a", "b"}},  // count ends the walk
        {"a;b", 5, {"a", "b"}},    // list shorter than the count
        {"a;;b", 3, {"a"}},        // an empty name ends the list
        {";a", 2, {}},
        {"a;b;", 0, {}},
        {"", 3, {}},
        {"sub\\x.txt;y", 2, {"sub\\x.txt", "y"}},
    };
    for (const Case& c : cases) EXPECT_EQ(payloadNamesToExtract(c.list, c.count), c.expected) << c.list;
}

TEST(PayloadNames, OnlyNamesInsideTheExtractionDirectoryAreSafe) {
    for (const char* safe :
         {"tvxruntime.jar", "sub\\file.txt", "a\\b\\c", "name..with..dots", "..hidden", "a\\.\\b", "dir/file"})
        EXPECT_TRUE(isSafePayloadName(safe)) << safe;
    for (const char* unsafe :
         {"C:\\Windows\\evil.dll", "c:evil", "\\evil", "/evil", "\\\\server\\share\\x", "..\\evil", "sub\\..\\..\\evil",
          "a/../../evil", "..", "sub\\.. \\x", "sub\\...\\x", "", "file.txt:stream"})
        EXPECT_FALSE(isSafePayloadName(unsafe)) << unsafe;
}

TEST(PayloadNames, DirectoryPartAndPackNames) {
    EXPECT_EQ(payloadDirectoryPart("sub\\x.txt"), "sub");
    EXPECT_EQ(payloadDirectoryPart("a\\b\\c"), "a");
    EXPECT_EQ(payloadDirectoryPart("plain"), "");
    EXPECT_TRUE(isPackName("lib\\rt.jar.pack"));
    EXPECT_FALSE(isPackName("rt.jar"));
    EXPECT_FALSE(isPackName(".pac"));
}

}  // namespace

#include "launcher/config.h"

#include <gtest/gtest.h>

#include "tests/unit/block_builder.h"

namespace {

// The file-backed source reads the same block as the memory source.
TEST(FileSource, ReadsABlockFromAFile) {
    BlockBuilder b;
    b.peImage();
    b.header(1);
    b.i32(1), b.i32(2001), b.text("e");
    b.i32(1), b.i32(1000), b.wide(L"Fehler");
    b.i32(0);
    b.finish();

    wchar_t dir[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"tst", 0, path);
    {
        UniqueFile out(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(out.valid());
        DWORD written = 0;
        WriteFile(out.get(), b.out.data(), static_cast<DWORD>(b.out.size()), &written, nullptr);
    }
    UniqueFile in(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(in.valid());
    FileSource source(in.get());
    BlockReader reader(source);
    ConfigStore store;
    LoadResult result = readConfigurationBlock(reader, store, [] { return std::string("de_DE"); });
    EXPECT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(store.values[2001], "e");
    EXPECT_EQ(store.messages[1000], L"Fehler");
    EXPECT_EQ(store.payloadOffset, static_cast<std::int64_t>(b.out.size()));

    IntegrityResult integrity = checkIntegrity(reader, true, nullptr);
    EXPECT_TRUE(integrity.checked);
    EXPECT_EQ(integrity.computed, integrity.expected);
    in.reset();
    DeleteFileW(path);
}

}  // namespace

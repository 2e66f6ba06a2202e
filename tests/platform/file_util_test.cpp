// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/file_util.h"
#include "support/temp_dir.h"

namespace bw::platform {
namespace {

TEST(FileUtil, AtomicWriteReplacesOrKeepsOldFile)
{
    test::TempDir dir;
    const auto path = dir / "filelist.ftp";
    test::writeFile(path, "old");
    EXPECT_FALSE(writeFileAtomically(path, [](std::FILE *f) {
        std::fputs("partial", f);
        return false;
    }));
    EXPECT_EQ(test::readFile(path), "old");
    EXPECT_TRUE(writeFileAtomically(path, [](std::FILE *f) { return std::fputs("new", f) >= 0; }));
    EXPECT_EQ(test::readFile(path), "new");

    struct stat info
    {};

    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1); // no temp left
}

TEST(FileUtil, TempFileIsCreatedExclusively)
{
    const auto a = createTempFile("ftp");
    const auto b = createTempFile("ftp");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.filename().string().rfind("ftp", 0), 0u);
    EXPECT_EQ(fileSize(a), 0);
    std::filesystem::remove(a);
    std::filesystem::remove(b);
    EXPECT_EQ(fileSize(a), -1);
}

} // namespace
} // namespace bw::platform

// SPDX-License-Identifier: MIT
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/local_path.h"
#include "support/temp_dir.h"

namespace bw::engine {
namespace {

struct LocalPathCase
{
    const char *name;
    LocalPathOptions options;
    std::string url;
    std::optional<std::string> directory;
    const char *expected;
};

TEST(LocalPathTest, BuildsThePathOfANewItem)
{
    const LocalPathOptions plain{false, "/unused", false, ""};
    const LocalPathOptions downloadPath{true, "/dl", false, ""};
    const LocalPathOptions longPaths{true, "/dl/", true, ""};
    const LocalPathCase cases[] = {
        {"file name below the given directory", plain, "ftp://h/a/b/c.txt", "/home/u", "/home/u/c.txt"},
        {"download path wins over the directory", downloadPath, "ftp://h/a/b/c.txt", "/home/u", "/dl/c.txt"},
        {"long paths keep host and remote path", longPaths, "ftp://h/a/b/c.txt", "/x", "/dl/h/a/b/c.txt"},
        {"a file in the remote root leaves two separators", longPaths, "ftp://h/c.txt", std::nullopt,
            "/dl/h//c.txt"},
        {"blank and hash become underscores", plain, "ftp://h/my file#1.txt", "/d", "/d/my_file_1.txt"},
        {"all 25 replaced characters", plain, "http://h/:%20?!%40#$%25^&*{}[]()|;<>,~\"'", "/d",
            "/d/_________________________"},
        {"user information is not part of the name", plain, "ftp://u:p@h:2121/d/f.zip", "/d", "/d/f.zip"},
        {"trailing separators of the base are dropped", plain, "ftp://h/f", "/d///", "/d/f"},
        {"the root as base", plain, "ftp://h/f", "/", "/f"},
        {"a directory URL names the base itself", plain, "ftp://h/dir/", "/d", "/d/"},
        {"a local URL names the file itself", downloadPath, "file:///home/u/x.txt", "/d", "/home/u/x.txt"},
        {"a local URL stays absolute", plain, "file://home/u/x", std::nullopt, "/home/u/x"},
        {"local backslashes become separators", plain, "file://\\srv\\f.txt", std::nullopt, "/srv/f.txt"},
        {"dot-dot in a URL cannot climb out", longPaths, "ftp://h/../../etc/passwd", std::nullopt,
            "/dl/h/__/__/etc/passwd"},
        {"a dot-dot file name cannot climb out", plain, "ftp://h/a/..", "/d", "/d/__"},
        // The file system ends a name at a NUL byte: "..<NUL>" would be "..".
        {"a NUL byte cannot make a dot-dot file name", plain, std::string("ftp://h/a/..\0", 13), "/d",
            "/d/.._"},
        {"an escaped slash is no folder", plain, "ftp://h/%2F", "/d", "/d/_"},
        {"an escaped slash stays in the file name", longPaths, "ftp://h/a/b%2Fc", "/x", "/dl/h/a/b_c"},
        {"an escaped slash cannot climb out", plain, "ftp://h/%2F..", "/d", "/d/_.."},
        {"a NUL byte cannot make a dot-dot host", longPaths, std::string("ftp://..\0\0../x", 14),
            std::nullopt, "/dl/..__..//x"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(buildLocalPath(c.options, c.url, c.directory), c.expected) << c.name;
    }
}

// An SFTP path "/~/..." starts at the login folder: the "~" is the server's, not a local folder.
TEST(LocalPathTest, SftpLoginFolderNamesNoLocalFolder)
{
    const LocalPathOptions plain{false, "/unused", false, ""};
    const LocalPathOptions longPaths{true, "/dl/", true, ""};
    const LocalPathCase cases[] = {
        {"below the login folder", longPaths, "sftp://u@h/~/a/c.txt", std::nullopt, "/dl/h/a/c.txt"},
        {"a folder URL names the base itself", plain, "sftp://h/~/dir/", "/d", "/d/"},
        {"a folder named like the login folder further down", longPaths, "sftp://h/a/~/c.txt", std::nullopt,
            "/dl/h/a/_/c.txt"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(buildLocalPath(c.options, c.url, c.directory), c.expected) << c.name;
    }
}

TEST(LocalPathTest, FileNameConversionChangesOnlyTheFileName)
{
    LocalPathOptions upper{false, "", false, ""};
    upper.fileNameConversion = FileNameConversion::Uppercase;
    LocalPathOptions lower = upper;
    lower.fileNameConversion = FileNameConversion::Lowercase;
    LocalPathOptions lowerLong{true, "/Dl", true, ""};
    lowerLong.fileNameConversion = FileNameConversion::Lowercase;
    LocalPathOptions none = upper;
    none.fileNameConversion = FileNameConversion::None;
    const LocalPathCase cases[] = {
        {"none keeps the name", none, "ftp://h/a/MiXed.Txt", "/Home/U", "/Home/U/MiXed.Txt"},
        {"uppercase", upper, "ftp://h/a/MiXed.Txt", "/Home/U", "/Home/U/MIXED.TXT"},
        {"lowercase", lower, "http://h/a/MiXed.Txt", "/Home/U", "/Home/U/mixed.txt"},
        {"the chosen folder keeps its case", lower, "ftp://h/f.ZIP", "/Mnt/Data", "/Mnt/Data/f.zip"},
        {"long paths keep host and remote folders", lowerLong, "ftp://Host/Pub/Sub/READ.ME", std::nullopt,
            "/Dl/Host/Pub/Sub/read.me"},
        {"only ASCII letters change", upper, "ftp://h/\xc3\xa9t\xc3\xa9-1.txt", "/d",
            "/d/\xc3\xa9T\xc3\xa9-1.TXT"},
        {"replaced characters stay replaced", upper, "ftp://h/a b.txt", "/d", "/d/A_B.TXT"},
        {"a local URL names the file itself", upper, "file:///home/u/x.txt", "/d", "/home/u/x.txt"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(buildLocalPath(c.options, c.url, c.directory), c.expected) << c.name;
}

TEST(LocalPathTest, WithoutDirectoryTheLocalFolderIsTheBaseNotTheWorkingDirectory)
{
    LocalPathOptions options;
    options.localFolder = "/home/u/browsed/";
    EXPECT_EQ(buildLocalPath(options, "ftp://h/a/f.bin"), "/home/u/browsed/f.bin");
    EXPECT_EQ(buildLocalPath(options, "ftp://h/a/f.bin", "/given"), "/given/f.bin");
    options.useDownloadPath = true;
    options.downloadPath = "/dl";
    EXPECT_EQ(buildLocalPath(options, "ftp://h/a/f.bin"), "/dl/f.bin");
    // Nothing known: the name alone, never the process's working directory.
    EXPECT_EQ(buildLocalPath({}, "ftp://h/a/f.bin"), "f.bin");
}

TEST(LocalPathTest, CreatesEveryFolderAboveTheFile)
{
    test::TempDir dir;
    const std::string target = (dir / "a").string() + "/b//c/file.bin";
    createLocalDirectories(target);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
    EXPECT_FALSE(std::filesystem::exists(target));
    createLocalDirectories(target); // existing folders are fine
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
}

TEST(LocalPathTest, OnlyPlainNamesAreSafeComponents)
{
    for (const char *name : {"a", "file.txt", "..hidden", "a b", "x@y"})
        EXPECT_TRUE(isSafePathComponent(name)) << name;
    for (const std::string name :
        {"", ".", "..", "a/b", "/etc", "..\\x", "a\\b", "x\ty", "new\nline", "bell\a", "del\x7f"})
        EXPECT_FALSE(isSafePathComponent(name)) << name;
    // A NUL byte ends the name for the file system: "x<NUL>y" would be written as "x".
    for (const std::string &name : {std::string("x\0y", 3), std::string("..\0", 3), std::string(1, '\0')})
        EXPECT_FALSE(isSafePathComponent(name)) << name.size();
}

TEST(LocalPathTest, AnHttpDownloadIntoAFolderIsNamedAfterTheUrl)
{
    test::TempDir dir;
    const std::string folder = (dir / "existing").string();
    std::filesystem::create_directories(folder);

    const struct
    {
        const char *name;
        std::string localPath;
        std::string fileName;
        std::string expected;
    } cases[] = {
        {"plain file", "/dl/f.bin", "other.bin", "/dl/f.bin"},
        {"folder URL", "/dl/dir/", "", "/dl/dir/index.html"},
        {"redirect from a folder URL", "/dl/dir/", "f.txt", "/dl/dir/f.txt"},
        {"existing folder", folder, "g.txt", folder + "/g.txt"},
        {"unsafe name", "/dl/dir/", "..", "/dl/dir/index.html"},
        {"a NUL byte in the name", "/dl/dir/", std::string("f\0.txt", 6), "/dl/dir/index.html"},
    };

    for (const auto &c : cases)
        EXPECT_EQ(httpLocalFile(c.localPath, c.fileName), c.expected) << c.name;
}

} // namespace
} // namespace bw::engine

// SPDX-License-Identifier: MIT
// The FTP client against the loopback vsftpd: commands, transfers in both modes, resume and listings.
// Each test works in its own folder on the server and fails when the server is missing.
#include <map>
#include <set>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "net/ftp_connection.h"
#include "support/protocol_recorder.h"
#include "support/server_folder.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::net {
namespace {

namespace fs = std::filesystem;
using bw::test::TempDir;
using Recorder = bw::test::ProtocolRecorder;

class FtpVsftpd : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        server = bw::test::ftpServer();
        ASSERT_NE(server.port, 0) << "the test vsftpd is not running";
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::string("ftp_") + info->name();
        for (char &c : folder)
            if (c == '/')
                c = '_';
        remote = fs::path(server.root) / folder;
        bw::test::makeOpenFolder(remote);
        ftp.setObserver(&Recorder::observe, &recorder);
        ASSERT_TRUE(ftp.createAndBind(0));
        ASSERT_TRUE(ftp.login(FtpSite{server.host, server.port, server.user, server.password, 3}))
            << ftp.error().text();
        ASSERT_TRUE(ftp.changeDirectory("/" + folder));
    }

    void TearDown() override
    {
        ftp.disconnect(15);
        std::error_code ec;
        if (!remote.empty())
            fs::remove_all(remote, ec);
    }

    bool passive() const { return GetParam(); }

    bw::test::FtpServer server;
    std::string folder;
    fs::path remote;
    Recorder recorder;
    FtpConnection ftp;
    TempDir local;
};

TEST_P(FtpVsftpd, CommandsChangeTheServerTree)
{
    std::string path;
    ASSERT_TRUE(ftp.printWorkingDirectory(path));
    EXPECT_EQ(path, "/" + folder);
    EXPECT_TRUE(ftp.makeDirectory("sub"));
    EXPECT_TRUE(fs::is_directory(remote / "sub"));
    EXPECT_FALSE(ftp.makeDirectory("sub"));
    EXPECT_TRUE(ftp.error().is(CatProtocol, PermissionDenied));
    EXPECT_TRUE(ftp.changeDirectory("sub"));
    ASSERT_TRUE(ftp.printWorkingDirectory(path));
    EXPECT_EQ(path, "/" + folder + "/sub");
    EXPECT_TRUE(ftp.changeDirectory(".."));
    EXPECT_TRUE(ftp.removeDirectory("sub"));
    EXPECT_FALSE(fs::exists(remote / "sub"));

    bw::test::writeFile(remote / "a.txt", "alpha");
    EXPECT_TRUE(ftp.rename("a.txt", "b.txt"));
    EXPECT_FALSE(fs::exists(remote / "a.txt"));
    EXPECT_EQ(bw::test::readFile(remote / "b.txt"), "alpha");
    EXPECT_FALSE(ftp.rename("a.txt", "c.txt"));
    EXPECT_TRUE(ftp.error().is(CatProtocol, PermissionDenied));
    EXPECT_TRUE(ftp.deleteFile("b.txt"));
    EXPECT_FALSE(fs::exists(remote / "b.txt"));
    EXPECT_FALSE(ftp.deleteFile("b.txt"));
    EXPECT_FALSE(ftp.changeDirectory("/no-such-folder"));
    EXPECT_TRUE(ftp.error().is(CatProtocol, UnexpectedResponse));
    EXPECT_EQ(ftp.ftpState(), FtpState::Idle);
}

TEST_P(FtpVsftpd, DownloadIsByteIdentical)
{
    const std::string bytes = bw::test::patternBytes(3 * 1024 * 1024 + 7, 11);
    bw::test::writeFile(remote / "big.bin", bytes);
    const auto target = local / "big.bin";
    ASSERT_TRUE(ftp.download(
        target.string(), "big.bin", true, passive(), static_cast<std::int64_t>(bytes.size()), false))
        << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(target), bytes);
    EXPECT_EQ(ftp.ftpState(), FtpState::Idle);
    EXPECT_EQ(recorder.commands.back(), "RETR big.bin");
    // The connection carries on with the next command.
    std::string path;
    EXPECT_TRUE(ftp.printWorkingDirectory(path));
}

TEST_P(FtpVsftpd, UploadIsByteIdentical)
{
    const std::string bytes = bw::test::patternBytes(2 * 1024 * 1024 + 3, 12);
    const auto source = local / "up.bin";
    bw::test::writeFile(source, bytes);
    ASSERT_TRUE(ftp.upload(source.string(), "up.bin", true, passive())) << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(remote / "up.bin"), bytes);
    EXPECT_EQ(ftp.dataConnection().totalSize(), static_cast<std::int64_t>(bytes.size()));
}

TEST_P(FtpVsftpd, ResumeContinuesAPartialFile)
{
    const std::string bytes = bw::test::patternBytes(1024 * 1024, 13);
    bw::test::writeFile(remote / "part.bin", bytes);
    const auto target = local / "part.bin";
    bw::test::writeFile(target, bytes.substr(0, 300000));
    ASSERT_TRUE(ftp.download(
        target.string(), "part.bin", true, passive(), static_cast<std::int64_t>(bytes.size()), true))
        << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(target), bytes);
    EXPECT_TRUE(recorder.sent("REST 300000"));
}

TEST_P(FtpVsftpd, MissingFileIsPermissionDenied)
{
    EXPECT_FALSE(ftp.download((local / "x").string(), "missing.bin", true, passive(), 0, false));
    EXPECT_TRUE(ftp.error().is(CatProtocol, PermissionDenied));
    EXPECT_EQ(ftp.ftpState(), FtpState::Idle);
    EXPECT_FALSE(ftp.dataConnection().hasSocket());
}

TEST_P(FtpVsftpd, ListsARealDirectory)
{
    bw::test::writeFile(remote / "a.txt", "0123456789");
    bw::test::writeFile(remote / "name with blanks.txt", "x");
    fs::create_directory(remote / "sub");
    ASSERT_TRUE(ftp.list("", true, passive())) << ftp.error().text();
    std::map<std::string, std::pair<bool, std::int64_t>> entries;
    while (ftp.parseNextEntry("*"))
        entries[ftp.entryName()] = {ftp.entryIsDirectory(), ftp.entrySize()};
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries["a.txt"], std::make_pair(false, std::int64_t{10}));
    EXPECT_EQ(entries["name with blanks.txt"], std::make_pair(false, std::int64_t{1}));
    EXPECT_TRUE(entries["sub"].first);

    ASSERT_TRUE(ftp.list("", false, passive()));
    std::set<std::string> names;
    while (ftp.parseNextEntry("*"))
        names.insert(ftp.entryName());
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "name with blanks.txt", "sub"}));

    // One named entry, the way the queue learns a file's size.
    ASSERT_TRUE(ftp.list("a.txt", true, passive()));
    ASSERT_TRUE(ftp.parseNextEntry("a.txt"));
    EXPECT_EQ(ftp.entrySize(), 10);
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpVsftpd, ::testing::Values(true, false),
    [](const auto &param) { return param.param ? "Passive" : "Active"; });

// A resumed download past 2 GiB asks for the full 64-bit offset. Sparse files keep it cheap.
TEST(FtpVsftpdLarge, ResumePastTwoGigabytes)
{
    const auto server = bw::test::ftpServer();
    ASSERT_NE(server.port, 0) << "the test vsftpd is not running";
    const fs::path remote = fs::path(server.root) / "ftp_large_resume";
    bw::test::makeOpenFolder(remote);
    constexpr std::int64_t kOffset = 2684354560; // 2.5 GiB
    const std::string tail = bw::test::patternBytes(100, 14);
    {
        int fd = ::open((remote / "huge.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), kOffset), static_cast<ssize_t>(tail.size()));
        ::close(fd);
    }
    TempDir local;
    const auto target = local / "huge.bin";
    {
        int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, kOffset), 0);
        ::close(fd);
    }
    Recorder recorder;
    FtpConnection ftp;
    ftp.setObserver(&Recorder::observe, &recorder);
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(FtpSite{server.host, server.port, server.user, server.password, 4}));
    ASSERT_TRUE(ftp.changeDirectory("/ftp_large_resume"));
    ASSERT_TRUE(ftp.download(target.string(), "huge.bin", true, true, kOffset + 100, true))
        << ftp.error().text();
    EXPECT_TRUE(recorder.sent("REST 2684354560"));
    EXPECT_EQ(fs::file_size(target), static_cast<std::uintmax_t>(kOffset + 100));
    std::string last(100, '\0');
    int fd = ::open(target.c_str(), O_RDONLY);
    ASSERT_EQ(::pread(fd, last.data(), last.size(), kOffset), 100);
    ::close(fd);
    EXPECT_EQ(last, tail);
    EXPECT_EQ(ftp.dataConnection().resumeOffset(), kOffset);
    ftp.disconnect(15);
    fs::remove_all(remote);
}

} // namespace
} // namespace bw::net

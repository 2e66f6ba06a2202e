// SPDX-License-Identifier: MIT
// A finished download takes the server's modification time (FTP MDTM, HTTP Last-Modified) unless the
// user turned that off, against the loopback vsftpd and nginx.
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "remote_folder_fixture.h"
#include "support/test_servers.h"

namespace bw::test {
namespace {

constexpr std::time_t kServerTime = 1000000000; // 2001-09-09 01:46:40 UTC

class ServerTimesTest : public RemoteFolderTest
{
protected:
    // Downloads a file of that time with the setting on and off; the kept time or a fresh one.
    void expectTimesFollowTheSetting(const std::string &scheme)
    {
        start();
        for (const bool keep : {true, false}) {
            engine::Settings settings = transferEngine.currentSettings();
            settings.keepServerTimes = keep;
            transferEngine.applySettings(settings);
            const std::string name = keep ? "kept.bin" : "fresh.bin";
            putRemote(name, patternBytes(5000, 4));
            const timespec times[2] = {{kServerTime, 0}, {kServerTime, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, (remoteRoot / name).c_str(), times, 0), 0);
            const auto id = queue.addItem(folderUrl(scheme, "/" + name), (local / name).string());
            ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished)) << scheme << " " << name;

            struct stat info
            {};

            ASSERT_EQ(::stat((local / name).c_str(), &info), 0);
            if (keep)
                EXPECT_EQ(info.st_mtim.tv_sec, kServerTime) << scheme;
            else
                EXPECT_GT(info.st_mtim.tv_sec, kServerTime + 365 * 24 * 3600) << scheme;
        }
    }
};

TEST_F(ServerTimesTest, FtpDownloadsKeepTheTimeMdtmGives)
{
    const FtpServer server = ftpServer();
    ASSERT_NE(server.port, 0) << "the vsftpd test server is needed";
    useRemoteFolder(server.root, nameForThisTest("t4"),
        server.user + ":" + server.password + "@" + server.host + ":" + std::to_string(server.port));
    expectTimesFollowTheSetting("ftp");
}

TEST_F(ServerTimesTest, HttpDownloadsKeepTheLastModifiedTime)
{
    const HttpServer server = httpServer();
    ASSERT_NE(server.port, 0) << "the nginx test server is needed";
    useRemoteFolder(server.root, nameForThisTest("t4"), server.host + ":" + std::to_string(server.port));
    expectTimesFollowTheSetting("http");
}

} // namespace
} // namespace bw::test

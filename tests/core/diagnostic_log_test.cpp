// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/diagnostic_log.h"
#include "support/temp_dir.h"

namespace bw::core {
namespace {

TEST(DiagnosticLog, PrefixHasDateTimeAndLevel)
{
    std::tm when{};
    when.tm_year = 2001 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 7;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 4;
    EXPECT_EQ(DiagnosticLog::linePrefix(when, 3), "03/07/2001 09:05:04 {3} - ");
}

TEST(DiagnosticLog, WritesUpToThresholdWithCrLfAndOwnerOnlyMode)
{
    test::TempDir dir;
    DiagnosticLog log;
    log.open((dir / "Bellwick.log").string(), 3);
    log.write("kept\n", 3);
    log.write("dropped", 4);
    log.writeFormatted("Socket shutdown error %d\n", 10054);
    log.write("Cannot save ftp://u:secret@h/q", 3);
    log.close();
    const std::string text = test::readFile(dir / "Bellwick.log");
    EXPECT_NE(text.find("{3} - kept\n\r\n"), std::string::npos);
    EXPECT_EQ(text.find("dropped"), std::string::npos);
    EXPECT_NE(text.find("{3} - Socket shutdown error 10054\n\r\n"), std::string::npos);
    EXPECT_NE(text.find("Cannot save ftp://u:********@h/q"), std::string::npos);

    struct stat info
    {};

    ASSERT_EQ(::stat((dir / "Bellwick.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(DiagnosticLog, ClosedLogAndRelativePath)
{
    DiagnosticLog closed;
    closed.write("nothing", 1); // silently skipped
    EXPECT_FALSE(closed.isOpen());

    test::TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    DiagnosticLog log;
    log.open("Bellwick.log", 3);
    std::filesystem::current_path(previous);
    EXPECT_EQ(log.path(), (dir / "Bellwick.log").string());
    log.write("after chdir", 3);
    log.close();
    EXPECT_NE(test::readFile(dir / "Bellwick.log").find("after chdir"), std::string::npos);
}

TEST(DiagnosticLog, DisconnectReasonTexts)
{
    EXPECT_STREQ(DiagnosticLog::disconnectReasonText(15), "Goodbye.  Control connection closed.");
    EXPECT_STREQ(DiagnosticLog::disconnectReasonText(2), "Inactivity Time Exceeded");
    EXPECT_STREQ(DiagnosticLog::disconnectReasonText(1), "Unknown");
    EXPECT_STREQ(DiagnosticLog::disconnectReasonText(16), "Unknown");
}

} // namespace
} // namespace bw::core

// SPDX-License-Identifier: MIT
// ~/.ssh/config as OpenSSH reads it for one host, and the remote paths of an SFTP session.
#include <gtest/gtest.h>

#include "net/sftp_path.h"
#include "net/ssh_config_file.h"

namespace bw::net {
namespace {

constexpr const char *kConfig = R"(# a comment
User everyone-first
Host work *.example.org !secret.example.org
    HostName %h.internal
    Port 2200
    IdentityFile ~/.ssh/work_key
Host work
    Port 9999
    User later
Host "quoted alias"
    HostName=192.0.2.5
Match host anything
    Port 7
Host *
    IdentityFile ~/.ssh/all_%u
    Port 22
)";

TEST(SshConfigFileTest, ReadsTheFirstValueOfEachSettingForTheHost)
{
    struct Case
    {
        const char *name;
        const char *host;
        SshHostConfig expected;
    };

    const Case cases[] = {
        {"alias", "work",
            {"work.internal", 2200, "everyone-first", {"/h/.ssh/work_key", "/h/.ssh/all_everyone-first"}}},
        {"wildcard", "a.example.org",
            {"a.example.org.internal", 2200, "everyone-first",
                {"/h/.ssh/work_key", "/h/.ssh/all_everyone-first"}}},
        {"negated pattern", "secret.example.org", {"", 22, "everyone-first", {"/h/.ssh/all_everyone-first"}}},
        {"quoted host and equals sign", "quoted alias",
            {"192.0.2.5", 22, "everyone-first", {"/h/.ssh/all_everyone-first"}}},
        {"match blocks are skipped", "anything", {"", 22, "everyone-first", {"/h/.ssh/all_everyone-first"}}},
    };
    for (const Case &c : cases) {
        const SshHostConfig got = readSshHostConfig(kConfig, c.host, "/h");
        EXPECT_EQ(got.hostName, c.expected.hostName) << c.name;
        EXPECT_EQ(got.port, c.expected.port) << c.name;
        EXPECT_EQ(got.user, c.expected.user) << c.name;
        EXPECT_EQ(got.identityFiles, c.expected.identityFiles) << c.name;
    }
}

TEST(SshConfigFileTest, MatchesOpenSshPatterns)
{
    struct Case
    {
        const char *pattern;
        const char *name;
        bool matches;
    };

    const Case cases[] = {{"*", "", true}, {"*.org", "a.b.org", true}, {"*.org", "a.b.com", false},
        {"host?", "host1", true}, {"host?", "host12", false}, {"a*b*c", "axxbyyc", true},
        {"a*b*c", "axxbyy", false}, {"exact", "exact", true}, {"exact", "exactly", false}};
    for (const Case &c : cases)
        EXPECT_EQ(matchesSshPattern(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
}

TEST(SftpPathTest, ResolvesAgainstTheCurrentAndTheLoginFolder)
{
    struct Case
    {
        const char *current;
        const char *path;
        const char *expected;
    };

    const Case cases[] = {{"/srv/a", "", "/srv/a"}, {"/srv/a", "file", "/srv/a/file"}, {"/", "file", "/file"},
        {"/srv/a", "/etc/x", "/etc/x"}, {"/srv/a", "../b/./c", "/srv/b/c"},
        {"/srv/a", "/~/x/y", "/home/u/x/y"}, {"/srv/a", "/~", "/home/u"}, {"/srv/a", "~/x", "/home/u/x"},
        {"/srv/a", "/~x", "/~x"}, {"/", "../../..", "/"}, {"/srv//a/", "b//", "/srv/a/b"}};
    for (const Case &c : cases)
        EXPECT_EQ(sftpResolvePath(c.current, "/home/u", c.path), c.expected) << c.current << " + " << c.path;
}

} // namespace
} // namespace bw::net

// SPDX-License-Identifier: MIT
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/certificate_trust_store.h"
#include "support/temp_dir.h"

namespace bw::engine {
namespace {

using bw::test::readFile;
using bw::test::TempDir;
using bw::test::writeFile;

const std::string kPrint =
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:"
    "45:67:89";
const std::string kOther =
    "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:"
    "DD:EE:FF";

TEST(CertificateTrustStoreTest, NormalizesFingerprints)
{
    const struct
    {
        const char *name;
        std::string text;
        std::optional<std::string> expected;
    } cases[] = {
        {"as the TLS layer writes it", kPrint, kPrint},
        {"lower case",
            "ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89",
            kPrint},
        {"without colons", "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789", kPrint},
        {"one byte short", kPrint.substr(3), std::nullopt},
        {"not hex", "ZZ" + kPrint.substr(2), std::nullopt},
        {"SHA-1 length", "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01", std::nullopt},
        {"empty", "", std::nullopt},
    };

    for (const auto &c : cases)
        EXPECT_EQ(normalizeFingerprint(c.text), c.expected) << c.name;
}

TEST(CertificateTrustStoreTest, RoundTripsThroughAnOwnerOnlyFile)
{
    TempDir dir;
    const auto file = dir / "sub/trusted-certificates";
    {
        CertificateTrustStore store{file};
        ASSERT_TRUE(store.load()); // missing: nothing trusted yet
        EXPECT_TRUE(store.trust("Example.ORG", 443, kPrint));
        EXPECT_TRUE(store.trust("[::1]", 990, kOther));
        EXPECT_TRUE(store.trust("example.org", 21, kOther));
        EXPECT_TRUE(store.trust("example.org", 21, kPrint)); // a changed certificate replaces the old one
        EXPECT_FALSE(store.trust("example.org", 22, "nonsense"));
    }

    struct stat info
    {};

    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    CertificateTrustStore again{file};
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.trustedFingerprint("example.org", 443), kPrint);
    EXPECT_EQ(again.trustedFingerprint("EXAMPLE.org", 443), kPrint);
    EXPECT_EQ(again.trustedFingerprint("::1", 990), kOther);
    EXPECT_EQ(again.trustedFingerprint("example.org", 21), kPrint);
    EXPECT_EQ(again.trustedFingerprint("example.org", 22), "");
    EXPECT_EQ(again.trustedFingerprint("example.org", 990), "");
    EXPECT_EQ(again.skippedLines(), 0u);

    EXPECT_TRUE(again.forget("example.org", 443));
    CertificateTrustStore third{file};
    ASSERT_TRUE(third.load());
    EXPECT_EQ(third.trustedFingerprint("example.org", 443), "");
    EXPECT_EQ(third.trustedFingerprint("example.org", 21), kPrint);
}

TEST(CertificateTrustStoreTest, SkipsBadLinesAndKeepsThemWhenWriting)
{
    TempDir dir;
    const auto file = dir / "trusted-certificates";
    writeFile(file,
        "# comment\n"
        "good.example 443 "
            + kPrint
            + "\r\n"
              "no-port.example "
            + kPrint
            + "\n"
              "bad-port.example 70000 "
            + kPrint
            + "\n"
              "short.example 443 AB:CD\n"
              "extra.example 443 "
            + kPrint
            + " trailing\n"
              "\n"
              "\x01\xff garbage\n"
              "last.example 21 "
            + kOther); // no final line break
    CertificateTrustStore store{file};
    ASSERT_TRUE(store.load());
    EXPECT_EQ(store.trustedFingerprint("good.example", 443), kPrint);
    EXPECT_EQ(store.trustedFingerprint("last.example", 21), kOther);
    EXPECT_EQ(store.trustedFingerprint("short.example", 443), "");
    EXPECT_EQ(store.trustedFingerprint("extra.example", 443), "");
    EXPECT_EQ(store.skippedLines(), 5u);

    ASSERT_TRUE(store.trust("new.example", 990, kPrint));
    const std::string written = readFile(file);
    EXPECT_NE(written.find("bad-port.example 70000"), std::string::npos) << written;
    EXPECT_NE(written.find("\x01\xff garbage"), std::string::npos);
    CertificateTrustStore again{file};
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.trustedFingerprint("new.example", 990), kPrint);
    EXPECT_EQ(again.trustedFingerprint("good.example", 443), kPrint);
    EXPECT_EQ(again.skippedLines(), 5u);
}

// Whatever a line holds, writing the file back never changes what it means: a line is trusted on
// every load or on none, and an unread line keeps its bytes.
TEST(CertificateTrustStoreTest, OddLinesMeanTheSameAfterEveryWrite)
{
    const std::string lower =
        "ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89";

    const struct
    {
        const char *name;
        std::string line;
        std::string host; // looked up at port 21
        std::string trusted;
        std::size_t skipped;
    } cases[] = {
        {"carriage returns of an unread line", "x\r\r\n", "x", "", 1},
        {"only carriage returns", "\r\r\n", "x", "", 1},
        {"a comment after a blank", " #h 21 " + kPrint + "\n", "#h", "", 0},
        {"a comment after a tab", "\t#h 21 " + kPrint + "\n", "#h", "", 0},
        {"a hash after a vertical tab", "\v#h 21 " + kPrint + "\n", "#h", "", 1},
        {"an entry after blanks", "  h 21 " + kPrint + "\n", "h", kPrint, 0},
        {"an entry after a tab, CR LF", "\th 21 " + kPrint + "\r\n", "h", kPrint, 0},
        {"vertical tabs between fields", "h\v21\v" + kPrint + "\n", "h", kPrint, 0},
        {"upper case and a leading zero", "H 021 " + lower + "\n", "h", kPrint, 0},
        {"an IPv6 address in brackets", "[::1] 21 " + kPrint, "::1", kPrint, 0},
        {"brackets a second reading would strip", "[[x]] 21 " + kPrint + "\n", "[x]", "", 1},
        {"a NUL byte in the host", std::string("x\0y 21 ", 7) + kPrint + "\n", std::string("x\0y", 3), kPrint,
            0},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto file = dir / "trusted-certificates";
        writeFile(file, c.line);
        std::string written;
        for (int round = 0; round < 3; ++round) {
            CertificateTrustStore store{file};
            ASSERT_TRUE(store.load());
            EXPECT_EQ(store.trustedFingerprint(c.host, 21), c.trusted) << round;
            EXPECT_EQ(store.skippedLines(), c.skipped) << round;
            ASSERT_TRUE(store.trust("other.example", 21, kOther));
            if (round > 0) {
                EXPECT_EQ(readFile(file), written) << round;
            }
            written = readFile(file);
        }
        if (c.skipped == 1) {
            EXPECT_NE(written.find(c.line), std::string::npos);
        }
    }

    // A host the file could not give back is not trusted at all, rather than lost on the next load.
    CertificateTrustStore store;
    for (const char *host : {"", "#h", "a b", "tab\there", "[[x]]", "x]"})
        EXPECT_FALSE(store.trust(host, 21, kPrint)) << host;
    EXPECT_TRUE(store.trust("[::1]", 21, kPrint));
}

TEST(CertificateTrustStoreTest, ConcurrentWritersKeepEveryEntry)
{
    TempDir dir;
    const auto file = dir / "trusted-certificates";
    // Two programs on one file, each with threads trusting hosts while others read.
    CertificateTrustStore first{file};
    CertificateTrustStore second{file};
    constexpr int kThreads = 4;
    constexpr int kHostsEach = 25;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            CertificateTrustStore &store = t % 2 == 0 ? first : second;
            threads.emplace_back([&store, t] {
                for (int i = 0; i < kHostsEach; ++i) {
                    const std::string host = "h" + std::to_string(t) + "-" + std::to_string(i) + ".example";
                    EXPECT_TRUE(store.trust(host, 443, kPrint));
                    EXPECT_EQ(store.trustedFingerprint(host, 443), kPrint);
                }
            });
        }
    }
    CertificateTrustStore reader{file};
    ASSERT_TRUE(reader.load());
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kHostsEach; ++i) {
            const std::string host = "h" + std::to_string(t) + "-" + std::to_string(i) + ".example";
            EXPECT_EQ(reader.trustedFingerprint(host, 443), kPrint) << host;
        }
    }
    EXPECT_EQ(reader.skippedLines(), 0u);
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename(), "trusted-certificates") << "left behind: " << entry.path();
}

TEST(CertificateTrustStoreTest, WithoutAFileTrustsForThisRunOnly)
{
    CertificateTrustStore store;
    EXPECT_TRUE(store.load());
    EXPECT_TRUE(store.trust("example.org", 443, kPrint));
    EXPECT_EQ(store.trustedFingerprint("example.org", 443), kPrint);
}

TEST(CertificateTrustStoreTest, DefaultPathFollowsTheDataFolder)
{
    const char *saved = std::getenv("XDG_DATA_HOME");
    const std::string restore = saved ? saved : "";
    ::setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(defaultTrustStorePath(), "/data/home/Tolvenby/Bellwick/trusted-certificates");
    ::setenv("XDG_DATA_HOME", "relative", 1);
    EXPECT_EQ(defaultTrustStorePath(),
        std::filesystem::path(std::getenv("HOME")) / ".local/share/Tolvenby/Bellwick/trusted-certificates");
    if (saved)
        ::setenv("XDG_DATA_HOME", restore.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace bw::engine

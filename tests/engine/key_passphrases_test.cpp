// SPDX-License-Identifier: MIT
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/key_passphrases.h"

namespace bw::engine {
namespace {

TEST(KeyPassphrasesTest, ReadsTheKeyOutOfTheStatusDetail)
{
    const struct
    {
        const char *name;
        std::string detail;
        std::string keyPath;
    } cases[] = {
        {"plain path", "Key /home/u/.ssh/id_ed25519 needs its passphrase", "/home/u/.ssh/id_ed25519"},
        {"path with blanks", "Key /home/u/my keys/id needs its passphrase", "/home/u/my keys/id"},
        {"no path", "Key  needs its passphrase", ""},
        {"another detail", "Host key unknown: SHA256:abc", ""},
        {"only the suffix", " needs its passphrase", ""},
        {"empty", "", ""},
    };

    for (const auto &c : cases)
        EXPECT_EQ(keyPathOfPassphraseDetail(c.detail), c.keyPath) << c.name;
}

TEST(KeyPassphrasesTest, KeepsOnePassphrasePerKeyUntilForgotten)
{
    KeyPassphrases passphrases;
    EXPECT_EQ(passphrases.find("/k"), std::nullopt);
    passphrases.set("/k", "first");
    passphrases.set("/k", "second");
    passphrases.set("/other", "");
    EXPECT_EQ(passphrases.find("/k"), "second");
    EXPECT_EQ(passphrases.find("/other"), ""); // an empty passphrase is a typed one
    passphrases.forget("/k");
    EXPECT_EQ(passphrases.find("/k"), std::nullopt);
    EXPECT_EQ(passphrases.find("/other"), "");
}

// The window stores while workers read.
TEST(KeyPassphrasesTest, StoresAndReadsFromManyThreads)
{
    KeyPassphrases passphrases;
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&passphrases, t] {
            const std::string key = "/key" + std::to_string(t);
            for (int i = 0; i < 200; ++i) {
                passphrases.set(key, std::to_string(i));
                EXPECT_TRUE(passphrases.find(key).has_value());
                (void)passphrases.find("/key0");
            }
        });
    }
    threads.clear();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(passphrases.find("/key" + std::to_string(t)), "199");
}

} // namespace
} // namespace bw::engine

// SPDX-License-Identifier: MIT
// Transfer-job tests against the loopback servers: the engine fixture with a folder of the test's own
// below a server's root (open to the server's user, removed when the test ends), and the trees that
// jobs copy.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/queue_item.h"
#include "engine_fixture.h"
#include "support/server_folder.h"
#include "support/temp_dir.h"

namespace bw::test {

// Every file and folder below `root`, by relative path; files map to their size and a hash of their
// bytes, folders to "<dir>".
inline std::map<std::string, std::string> treeOf(const std::filesystem::path &root)
{
    std::map<std::string, std::string> tree;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = std::filesystem::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            tree[name] = "<dir>";
        } else {
            const std::string bytes = readFile(entry.path());
            tree[name] = std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
        }
    }
    return tree;
}

// Folders (one empty, one two deep) and files of several sizes, an empty one among them.
inline void makeTree(const std::filesystem::path &root)
{
    std::filesystem::create_directories(root / "sub/deeper");
    std::filesystem::create_directories(root / "empty");
    writeFile(root / "top.bin", patternBytes(70000, 1));
    writeFile(root / "sub/mid.bin", patternBytes(5000, 2));
    writeFile(root / "sub/deeper/leaf.bin", patternBytes(123457, 3));
    writeFile(root / "sub/deeper/zero.bin", "");
}

// makeTree, with files whose names a URL must escape: a blank, "@" and "%".
inline void makeTreeWithOddNames(const std::filesystem::path &root)
{
    makeTree(root);
    writeFile(root / "with space.txt", "blank inside");
    writeFile(root / "at@sign.txt", "at sign");
    writeFile(root / "100%done.txt", "percent");
}

// Lets the server's user (not the test's) write to everything below `path`.
inline void openUp(const std::filesystem::path &path)
{
    for (const auto &entry : std::filesystem::recursive_directory_iterator(path))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::all);
}

class RemoteFolderTest : public EngineTest
{
protected:
    // Makes `name` afresh below `serverRoot`, open to the server's user; folderUrl() reaches it through
    // `siteLogin` ("user:password@host:port").
    void useRemoteFolder(
        const std::string &serverRoot, const std::string &name, const std::string &siteLogin = {})
    {
        login = siteLogin;
        folder = name;
        remoteRoot = std::filesystem::path(serverRoot) / folder;
        makeOpenFolder(remoteRoot);
    }

    // "<prefix>-<process id>-<test name>": tests running side by side never meet.
    static std::string nameForThisTest(const std::string &prefix)
    {
        return prefix + "-" + std::to_string(::getpid()) + "-"
            + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }

    // The jobs end before their folder goes.
    void TearDown() override
    {
        transferEngine.stopAndWait();
        std::error_code ignored;
        if (!remoteRoot.empty())
            std::filesystem::remove_all(remoteRoot, ignored);
    }

    // "<scheme>://<login>/<folder><path>".
    std::string folderUrl(const std::string &scheme, const std::string &path) const
    {
        return scheme + "://" + login + "/" + folder + path;
    }

    // The server's path to `name` in the folder.
    std::string remote(const std::string &name) const { return "/" + folder + "/" + name; }

    void putRemote(const std::string &name, const std::string &bytes) { writeFile(remoteRoot / name, bytes); }

    // Every item in the queue finished; one that did not is named with its status.
    void expectAllFinished()
    {
        for (const auto id : queue.ids())
            EXPECT_EQ(core::snapshotOrVanished(queue, id).status, core::ItemStatus::StatusFinished)
                << core::snapshotOrVanished(queue, id).url << ": "
                << core::statusTextWithDetail(core::snapshotOrVanished(queue, id));
    }

    std::string login;
    std::string folder;
    std::filesystem::path remoteRoot;
    TempDir local;
};

} // namespace bw::test

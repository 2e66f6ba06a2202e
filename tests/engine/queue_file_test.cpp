// SPDX-License-Identifier: MIT
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <new>
#include <thread>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "engine/queue_file.h"
#include "support/temp_dir.h"

// Counting allocations needs operator new and delete on malloc and free, which GCC flags once inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// The largest single allocation made while `g_trackAllocations` is set: a damaged length must never
// make the loader reserve memory the file cannot fill.
namespace {
std::atomic<bool> g_trackAllocations{false};
std::atomic<std::size_t> g_largestAllocation{0};
} // namespace

void *operator new(std::size_t size)
{
    if (g_trackAllocations.load(std::memory_order_relaxed)) {
        std::size_t seen = g_largestAllocation.load();
        while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {}
    }
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace bw::engine {
namespace {

using core::QueueItem;
using core::QueueList;

std::string le32(std::int32_t value)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF));
    return out;
}

std::string str(const std::string &text)
{
    return le32(static_cast<std::int32_t>(text.size())) + text;
}

std::string record(const std::string &url, const std::string &local, std::int32_t port, std::int32_t scheme,
    std::int32_t reserved, std::int32_t retryTime, std::int32_t retryCount, std::int32_t timeout,
    std::int32_t passive)
{
    return str(url) + str(local) + le32(port) + le32(scheme) + le32(reserved) + le32(retryTime)
        + le32(retryCount) + le32(timeout) + le32(passive);
}

std::vector<QueueItem> itemsOf(QueueList &queue)
{
    return queue.snapshot();
}

class QueueFileTest : public ::testing::Test
{
protected:
    test::TempDir dir;
    QueueList queue;
};

TEST_F(QueueFileTest, EmptyQueueIsEightBytes)
{
    EXPECT_EQ(encodeQueue(queue), std::string("\x01\0\0\0\0\0\0\0", 8));
}

TEST_F(QueueFileTest, RecordLayoutByteForByte)
{
    queue.setDefaults({30, 1, 30, 10, false});
    ASSERT_NE(queue.addItem("ftp://h/f", "C:\\x\\f"), 0);
    ASSERT_NE(queue.addItem("ftp://u:p@h:2121/", "/dl", 0, 5, 7, 60, 1), 0);
    const std::string expected = std::string("\x01\0\0\0\x02\0\0\0", 8)
        // url "ftp://h/f", local path "C:\x\f", port 21, scheme 1, reserved 0, 30, 10, 30, passive 0
        + std::string("\x09\0\0\0", 4) + "ftp://h/f" + std::string("\x06\0\0\0", 4) + "C:\\x\\f"
        + std::string("\x15\0\0\0\x01\0\0\0\0\0\0\0\x1e\0\0\0\x0a\0\0\0\x1e\0\0\0\0\0\0\0", 28)
        + record("ftp://u:p@h:2121/", "/dl", 2121, 1, 0, 5, 7, 60, 1);
    EXPECT_EQ(encodeQueue(queue), expected);
}

TEST_F(QueueFileTest, EmptyTextIsFourZeroBytes)
{
    ASSERT_NE(queue.addItem("ftp://h", ""), 0);
    const std::string bytes = encodeQueue(queue);
    EXPECT_EQ(bytes.substr(8 + 4 + 7, 4), std::string(4, '\0'));
}

// The user's checksums follow the records in a "BWCK" block; other blocks are skipped, and one cut short
// costs only itself.
TEST_F(QueueFileTest, ChecksumsTravelInTheirBlockAfterTheRecords)
{
    const std::string hex(40, 'b');
    const std::string records = le32(1) + le32(2) + record("ftp://h/a", "/a", 21, 1, 0, 30, 10, 30, 0)
        + record("ftp://h/b", "/b", 21, 1, 0, 30, 10, 30, 0);
    const std::string checksums = le32(1) + le32(1) + le32(2) + str(hex); // item 1: SHA-1
    const std::string block = "BWCK" + le32(static_cast<std::int32_t>(checksums.size())) + checksums;
    const std::string other = "BWSG" + le32(3) + "xyz";

    const struct
    {
        const char *name;
        std::string bytes;
        bool withChecksum;
        std::size_t unreadBytes;
    } cases[] = {
        {"checksum block", records + block, true, 0},
        {"unknown block first", records + other + block, true, 0},
        {"block cut short", records + block.substr(0, block.size() - 1), false, block.size() - 1},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QueueList target;
        const QueueFileLoadResult result = decodeQueue(c.bytes, target);
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(result.unreadBytes, c.unreadBytes);
        ASSERT_EQ(target.count(), 2u);
        EXPECT_FALSE(itemsOf(target)[0].checksum.isSet());
        EXPECT_EQ(itemsOf(target)[1].checksum.isSet(), c.withChecksum);
        if (c.withChecksum) {
            EXPECT_EQ(itemsOf(target)[1].checksum, (core::Checksum{core::ChecksumAlgorithm::Sha1, hex}));
            EXPECT_EQ(encodeQueue(target), records + block);
        }
    }
}

TEST_F(QueueFileTest, SavesOnlyWorkStillToDo)
{
    std::int32_t finished = queue.addItem("ftp://h/done", "/done");
    std::int32_t idle1 = queue.addItem("ftp://h/one", "/one");
    std::int32_t running = queue.addItem("ftp://g/run", "/run");
    std::int32_t removing = queue.addItem("ftp://k/rm", "/rm");
    std::int32_t idle2 = queue.addItem("ftp://h/two", "/two");
    std::int32_t complete = queue.addItem("ftp://m", "");
    queue.setStatus(finished, core::ItemStatus::StatusFinished);
    queue.setStatus(running, core::ItemStatus::StatusTransferring);
    queue.setStatus(removing, core::ItemStatus::StatusActive);
    ASSERT_FALSE(queue.removeItem(removing));
    queue.setStatus(complete, core::ItemStatus::StatusManualConnectionComplete);
    (void)idle1;
    (void)idle2;

    const auto path = dir / "filelist.ftp";
    ASSERT_TRUE(saveQueueFile(path, queue));
    QueueList loaded;
    QueueFileLoadResult result = loadQueueFile(path, loaded);
    EXPECT_TRUE(result.ok()) << result.problem;
    EXPECT_EQ(result.declaredCount, 3);
    EXPECT_EQ(result.loadedCount, 3);
    std::vector<QueueItem> items = itemsOf(loaded);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].url, "ftp://h/one");
    EXPECT_EQ(items[1].url, "ftp://g/run");
    EXPECT_EQ(items[2].url, "ftp://h/two");
    for (const QueueItem &item : items) {
        EXPECT_EQ(item.status, core::ItemStatus::StatusIdle);
        EXPECT_EQ(item.attempts, 0);
    }
}

TEST_F(QueueFileTest, RoundTripKeepsSettingsAndAppendsWithFreshIds)
{
    queue.addItem("ftp://u:p@h:2121/dir/f.bin", "/dl/f.bin", 0, 5, 7, 60, 1);
    queue.addItem("http://web/x%20y", "/dl/x y", 0, 0, 0, 1, 0);
    queue.addItem("ftpu://h/in/", "/home/u/out");
    queue.addItem("ftp://h", "");
    const auto path = dir / "q.ftp";
    ASSERT_TRUE(saveQueueFile(path, queue));

    QueueList other;
    std::int32_t existing = other.addItem("ftp://first/f", "/f");
    QueueFileLoadResult result = loadQueueFile(path, other);
    ASSERT_TRUE(result.ok()) << result.problem;
    std::vector<QueueItem> before = itemsOf(queue);
    std::vector<QueueItem> after = itemsOf(other);
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after[0].id, existing);
    for (std::size_t i = 0; i < before.size(); ++i) {
        const QueueItem &a = before[i];
        const QueueItem &b = after[i + 1];
        SCOPED_TRACE(a.url);
        EXPECT_EQ(b.url, a.url);
        EXPECT_EQ(b.localPath, a.localPath);
        EXPECT_EQ(b.host, a.host);
        EXPECT_EQ(b.user, a.user);
        EXPECT_EQ(b.password, a.password);
        EXPECT_EQ(b.path, a.path);
        EXPECT_EQ(b.fileName, a.fileName);
        EXPECT_EQ(b.port, a.port);
        EXPECT_EQ(b.scheme, a.scheme);
        EXPECT_EQ(b.retryTime, a.retryTime);
        EXPECT_EQ(b.retryCount, a.retryCount);
        EXPECT_EQ(b.timeout, a.timeout);
        EXPECT_EQ(b.passive, a.passive);
        EXPECT_EQ(b.automatic, a.automatic);
        EXPECT_NE(b.id, a.id);
        EXPECT_NE(b.id, 0);
    }
    // The saved bytes of the reloaded queue are the same file again.
    QueueList reloaded;
    loadQueueFile(path, reloaded);
    EXPECT_EQ(encodeQueue(reloaded), test::readFile(path));
}

TEST_F(QueueFileTest, StoredPortSchemeAndFlagsWin)
{
    const std::string bytes = le32(1) + le32(2) + record("ftp://h:21/f", "/f", 4444, 4, 9, -3, 0, 0, 2)
        + record("not a url", "/kept", 0, 77, 0, 1, 2, 3, 0);
    QueueFileLoadResult result = decodeQueue(bytes, queue);
    ASSERT_TRUE(result.ok()) << result.problem;
    std::vector<QueueItem> items = itemsOf(queue);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].port, 4444);
    EXPECT_EQ(items[0].scheme, core::SchemeFtpUpload);
    EXPECT_TRUE(items[0].reservedFlag);
    EXPECT_TRUE(items[0].passive);
    EXPECT_EQ(items[0].retryTime, -3);
    // A URL that does not parse is kept as text, so the next save does not drop the user's entry.
    EXPECT_EQ(items[1].url, "not a url");
    EXPECT_EQ(items[1].localPath, "/kept");
    EXPECT_EQ(items[1].host, "");
    EXPECT_EQ(static_cast<std::int32_t>(items[1].scheme), 77);
    // Flags are written back as 1.
    EXPECT_EQ(encodeQueue(queue),
        le32(1) + le32(2) + record("ftp://h:21/f", "/f", 4444, 4, 1, -3, 0, 0, 1)
            + record("not a url", "/kept", 0, 77, 0, 1, 2, 3, 0));
}

TEST_F(QueueFileTest, MissingFileLeavesQueueAloneAndAnEmptyFileIsAnEmptyQueue)
{
    queue.addItem("ftp://h/f", "/f");
    QueueFileLoadResult result = loadQueueFile(dir / "absent.ftp", queue);
    EXPECT_FALSE(result.opened);
    EXPECT_FALSE(result.problem.empty());
    EXPECT_EQ(queue.count(), 1u);

    test::writeFile(dir / "filelist.ftp", "");
    result = loadQueueFile(dir / "filelist.ftp", queue);
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(result.loadedCount, 0);
    EXPECT_EQ(queue.count(), 1u);
}

TEST_F(QueueFileTest, TruncatedAnywhereLoadsOnlyCompleteRecords)
{
    const std::string first = record("ftp://h/a", "/a", 21, 1, 0, 30, 10, 30, 0);
    const std::string second = record("ftp://u:p@k/b", "/b", 21, 1, 1, 5, 6, 7, 1);
    const std::string whole = le32(1) + le32(2) + first + second;
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        QueueList target;
        QueueFileLoadResult result = decodeQueue(std::string_view(whole).substr(0, cut), target);
        std::size_t complete = cut < 8 + first.size() ? 0 : cut < whole.size() ? 1 : 2;
        EXPECT_EQ(target.count(), complete);
        EXPECT_EQ(result.loadedCount, static_cast<std::int32_t>(complete));
        // Length 0 is the empty file of a first start, not damage.
        const bool damaged = cut != whole.size() && cut != 0;
        EXPECT_EQ(result.damaged, damaged);
        EXPECT_EQ(result.problem.empty(), !damaged);
        if (complete >= 1) {
            EXPECT_EQ(itemsOf(target)[0].url, "ftp://h/a");
        }
    }
}

TEST_F(QueueFileTest, DamagedCountsAndLengthsStopTheLoad)
{
    const std::string good = record("ftp://h/a", "/a", 21, 1, 0, 30, 10, 30, 0);

    struct Case
    {
        const char *name;
        std::string bytes;
        std::int32_t loaded;
    };

    const Case cases[] = {
        {"count larger than the records", le32(1) + le32(3) + good, 1},
        {"negative count", le32(1) + le32(-1) + good, 0},
        {"negative text length", le32(1) + le32(2) + good + le32(-5) + "abc", 1},
        {"text longer than the file", le32(1) + le32(2) + good + le32(1000) + "abc", 1},
        {"huge text length", le32(1) + le32(1) + le32(0x7fffffff) + "x", 0},
        {"huge count", le32(1) + le32(0x7fffffff) + good, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QueueList target;
        g_largestAllocation = 0;
        g_trackAllocations = true;
        QueueFileLoadResult result = decodeQueue(c.bytes, target);
        g_trackAllocations = false;
        EXPECT_TRUE(result.damaged);
        EXPECT_FALSE(result.problem.empty());
        EXPECT_EQ(result.loadedCount, c.loaded);
        EXPECT_EQ(target.count(), static_cast<std::size_t>(c.loaded));
        EXPECT_LE(g_largestAllocation.load(), 64u * 1024u);
    }
}

TEST_F(QueueFileTest, HugeLengthInAFileAllocatesNothingBig)
{
    const auto path = dir / "damaged.ftp";
    test::writeFile(path, le32(1) + le32(1) + le32(0x7ffffff0) + "tail");
    g_largestAllocation = 0;
    g_trackAllocations = true;
    QueueFileLoadResult result = loadQueueFile(path, queue);
    g_trackAllocations = false;
    EXPECT_TRUE(result.opened);
    EXPECT_TRUE(result.damaged);
    EXPECT_EQ(queue.count(), 0u);
    EXPECT_LE(g_largestAllocation.load(), 128u * 1024u);
}

TEST_F(QueueFileTest, SavedFileIsPrivate)
{
    const auto path = dir / "filelist.ftp";
    test::writeFile(path, "old");
    ::chmod(path.c_str(), 0644);
    queue.addItem("ftp://user:secret@h/f", "/f");
    ASSERT_TRUE(saveQueueFile(path, queue));

    struct stat info
    {};

    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Workers go on while the queue is saved: every save is a whole file of whole records, holding at least
// the items nobody touches and never a finished one.
TEST_F(QueueFileTest, SavingWhileWorkersChangeTheQueueWritesWholeFiles)
{
    constexpr int kSteady = 50;
    for (int i = 0; i < kSteady; ++i)
        queue.addItem("ftp://steady/f" + std::to_string(i), "/dl/f" + std::to_string(i));
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        for (int round = 0; !stop.load(); ++round) {
            const std::int32_t id = queue.addItem("ftp://busy/f" + std::to_string(round), "/dl/busy");
            queue.setStatus(id, core::ItemStatus::StatusTransferring);
            queue.setProgress(id, round, 100);
            queue.finishItem(id, core::ItemStatus::StatusFinished);
            queue.removeItem(id);
        }
    });
    const auto path = dir / "filelist.ftp";
    for (int save = 0; save < 30; ++save) {
        ASSERT_TRUE(saveQueueFile(path, queue));
        QueueList loaded;
        const QueueFileLoadResult result = loadQueueFile(path, loaded);
        ASSERT_TRUE(result.ok()) << result.problem;
        ASSERT_EQ(result.unreadBytes, 0u);
        ASSERT_GE(result.loadedCount, kSteady);
        ASSERT_LE(result.loadedCount, kSteady + 1);
        EXPECT_EQ(itemsOf(loaded).front().url, "ftp://steady/f0");
    }
    stop = true;
    worker.join();
}

// Lowers the largest file this process may write, so that writing fails half-way as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }

    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

TEST_F(QueueFileTest, FailedSaveKeepsTheOldFile)
{
    const auto path = dir / "filelist.ftp";
    queue.addItem("ftp://h/first", "/first");
    ASSERT_TRUE(saveQueueFile(path, queue));
    const std::string old = test::readFile(path);

    for (int i = 0; i < 200; ++i)
        queue.addItem("ftp://h/file" + std::to_string(i), "/dl/file" + std::to_string(i));
    {
        FileSizeLimit limit(256);
        EXPECT_FALSE(saveQueueFile(path, queue));
    }
    EXPECT_EQ(test::readFile(path), old);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u) << "no temporary file may be left behind";

    EXPECT_FALSE(saveQueueFile(dir / "no-such-folder" / "q.ftp", queue));
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
}

} // namespace
} // namespace bw::engine

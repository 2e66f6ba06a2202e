// SPDX-License-Identifier: MIT
#include "engine/queue_file.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/checksum_block.h"
#include "engine/keyring_queue.h"
#include "engine/keyring_service.h"
#include "engine/queue_file_blocks.h"
#include "engine/segment_state.h"
#include "platform/file_util.h"

namespace bw::engine {

namespace {

void putInt32(std::string &out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    const char bytes[4] = {static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
        static_cast<char>((bits >> 16) & 0xFF), static_cast<char>((bits >> 24) & 0xFF)};
    out.append(bytes, sizeof bytes);
}

void putString(std::string &out, std::string_view text)
{
    putInt32(out, static_cast<std::int32_t>(text.size()));
    out += text;
}

// One record: the URL and local path (the next texts of `texts`), then the item's numbers.
void putRecord(
    std::string &out, const core::SavedItems::Item &item, std::string_view &texts, KeyringService *keyring)
{
    const std::string_view url = texts.substr(0, item.urlSize);
    putString(out, keyring ? keyring->fileUrl(url) : std::string(url));
    texts.remove_prefix(item.urlSize);
    putString(out, texts.substr(0, item.localPathSize));
    texts.remove_prefix(item.localPathSize);
    putInt32(out, item.port);
    putInt32(out, item.scheme);
    putInt32(out, item.reservedFlag ? 1 : 0);
    putInt32(out, item.retryTime);
    putInt32(out, item.retryCount);
    putInt32(out, item.timeout);
    putInt32(out, item.passive ? 1 : 0);
}

// Reads the little-endian fields of a byte buffer; every read checks what remains first, so a damaged
// length can never make it allocate or read past the end.
class Reader
{
public:
    explicit Reader(std::string_view bytes)
        : m_bytes(bytes)
    {}

    bool readInt32(std::int32_t &value)
    {
        if (m_bytes.size() - m_offset < 4)
            return fail("the file ends inside a number");
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i)
            bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(m_bytes[m_offset + i])) << (8 * i);
        m_offset += 4;
        value = static_cast<std::int32_t>(bits);
        return true;
    }

    bool readString(std::string &text)
    {
        std::int32_t length = 0;
        if (!readInt32(length))
            return false;
        if (length < 0)
            return fail("a text has a negative length");
        if (static_cast<std::size_t>(length) > m_bytes.size() - m_offset)
            return fail("a text is longer than the rest of the file");
        text.assign(m_bytes.substr(m_offset, static_cast<std::size_t>(length)));
        m_offset += static_cast<std::size_t>(length);
        return true;
    }

    std::size_t remaining() const { return m_bytes.size() - m_offset; }

    const std::string &problem() const { return m_problem; }

private:
    bool fail(const char *problem)
    {
        if (m_problem.empty())
            m_problem = problem;
        return false;
    }

    std::string_view m_bytes;
    std::size_t m_offset = 0;
    std::string m_problem;
};

bool readRecord(Reader &reader, core::QueueItem &item)
{
    std::string url;
    std::string localPath;
    std::int32_t port = 0;
    std::int32_t scheme = 0;
    std::int32_t reservedFlag = 0;
    std::int32_t retryTime = 0;
    std::int32_t retryCount = 0;
    std::int32_t timeout = 0;
    std::int32_t passive = 0;
    if (!reader.readString(url) || !reader.readString(localPath) || !reader.readInt32(port)
        || !reader.readInt32(scheme) || !reader.readInt32(reservedFlag) || !reader.readInt32(retryTime)
        || !reader.readInt32(retryCount) || !reader.readInt32(timeout) || !reader.readInt32(passive))
        return false;
    if (!item.setUrl(url, localPath)) {
        // Keep what the user queued even when it does not parse, so the next save does not drop it.
        item.url = url;
        item.localPath = localPath;
        if (localPath.empty())
            item.automatic = false;
    }
    // Port and scheme come from the file, even when the URL would give others.
    item.port = port;
    item.scheme = static_cast<core::UrlScheme>(scheme);
    item.reservedFlag = reservedFlag != 0;
    item.retryTime = retryTime;
    item.retryCount = retryCount;
    item.timeout = timeout;
    item.passive = passive != 0;
    return true;
}

// The blocks after the records: what they add is given to the loaded items; a block of an unknown tag
// is skipped (another version's), and a block cut short loses only what it held: its bytes are returned.
std::size_t takeBlocks(std::string_view bytes, std::vector<core::QueueItem> &items)
{
    const QueueFileBlocks found = readBlocks(bytes);
    for (const QueueFileBlock &block : found.blocks) {
        if (block.tag == kSegmentBlockTag) {
            const auto states = decodeSegmentBlock(block.payload, items.size());
            for (const auto &[index, state] : states ? *states : decltype(*states){})
                items[index].segmentState = state;
        } else if (block.tag == kChecksumBlockTag) {
            for (auto &[index, checksum] : decodeChecksumBlock(block.payload)) {
                if (static_cast<std::size_t>(index) < items.size())
                    items[static_cast<std::size_t>(index)].checksum = std::move(checksum);
            }
        }
    }
    return found.damagedBytes;
}

// Smallest possible record: two empty texts and seven numbers.
constexpr std::size_t kMinRecordSize = 9 * 4;

std::string encodeSaved(const core::SavedItems &saved, KeyringService *keyring)
{
    std::string out;
    // The version and count, then per record two text lengths and seven numbers besides the texts.
    out.reserve(8 + saved.texts.size() + saved.items.size() * 9 * 4);
    putInt32(out, kQueueFileVersion);
    putInt32(out, static_cast<std::int32_t>(saved.items.size()));
    std::string_view texts = saved.texts;
    for (const core::SavedItems::Item &item : saved.items)
        putRecord(out, item, texts, keyring);
    if (!saved.checksums.empty())
        appendBlock(out, kChecksumBlockTag, encodeChecksumBlock(saved.checksums));
    if (!saved.segmentStates.empty())
        appendBlock(out, kSegmentBlockTag, encodeSegmentBlock(saved.segmentStates));
    return out;
}

} // namespace

std::string encodeQueue(core::QueueList &queue, KeyringService *keyring)
{
    // Only the stored fields are taken under the queue's lock; the bytes are built while workers go on.
    return encodeSaved(queue.savedItems(), keyring);
}

QueueFileLoadResult decodeQueue(std::string_view bytes, core::QueueList &queue)
{
    QueueFileLoadResult result;
    result.opened = true;
    // A file of length 0 is what the first start creates: an empty queue, not a damaged one.
    if (bytes.empty())
        return result;
    Reader reader(bytes);
    std::int32_t version = 0;
    if (!reader.readInt32(version) || !reader.readInt32(result.declaredCount)) {
        result.damaged = true;
        result.problem = "the file is too short to hold a queue";
        return result;
    }
    if (result.declaredCount < 0) {
        result.damaged = true;
        result.problem = "the record count is negative";
        return result;
    }

    // Read everything first, then append under the lock in one go: a damaged record never half-arrives.
    std::vector<core::QueueItem> loaded;
    loaded.reserve(std::min<std::size_t>(
        static_cast<std::size_t>(result.declaredCount), reader.remaining() / kMinRecordSize));
    for (std::int32_t i = 0; i < result.declaredCount; ++i) {
        core::QueueItem item;
        if (!readRecord(reader, item)) {
            result.damaged = true;
            result.problem = reader.problem() + " (record " + std::to_string(i + 1) + " of "
                + std::to_string(result.declaredCount) + ")";
            break;
        }
        loaded.push_back(std::move(item));
    }

    result.unreadBytes = reader.remaining();
    if (!result.damaged && result.unreadBytes > 0)
        result.unreadBytes = takeBlocks(bytes.substr(bytes.size() - result.unreadBytes), loaded);
    result.loadedCount = static_cast<std::int32_t>(loaded.size());
    queue.appendItems(std::move(loaded));
    return result;
}

QueueFileLoadResult loadQueueFile(
    const std::filesystem::path &path, core::QueueList &queue, KeyringService *keyring)
{
    QueueFileLoadResult result;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        result.problem = "the file cannot be opened";
        return result;
    }
    std::string bytes;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) {
        result.problem = "the file cannot be read";
        return result;
    }
    result = decodeQueue(bytes, queue);
    if (keyring)
        keyring->setInUse(KeyringService::Holder::Queue, queueLogins(queue.savedItems()));
    return result;
}

bool saveQueueFile(const std::filesystem::path &path, core::QueueList &queue, KeyringService *keyring)
{
    // Only the copy of the stored fields holds the queue's lock: workers need not wait for the disk.
    const core::SavedItems saved = queue.savedItems();
    const std::string bytes = encodeSaved(saved, keyring);
    const bool written = platform::writeFileAtomically(
        path,
        [&bytes](
            std::FILE *file) { return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(); },
        0600);
    // Entries of logins the queue no longer uses go only once no file of ours needs them.
    if (written && keyring)
        keyring->setInUse(KeyringService::Holder::Queue, queueLogins(saved));
    return written;
}

std::string queueFileProblem(const std::filesystem::path &path)
{
    core::QueueList scratch;
    const QueueFileLoadResult result = loadQueueFile(path, scratch);
    if (!result.opened)
        return "it cannot be read";
    std::error_code error;
    if (std::filesystem::file_size(path, error) == 0 && !error)
        return "it is empty";
    if (result.damaged)
        return result.problem;
    if (result.unreadBytes != 0)
        return std::to_string(result.unreadBytes) + " bytes follow the last record";
    return {};
}

} // namespace bw::engine

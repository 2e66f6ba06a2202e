// SPDX-License-Identifier: MIT
// The saved transfer queue ("filelist.ftp"): a little-endian binary file holding, per item, the URL,
// the local path and the item's own settings. Status, attempts, progress and ids are rebuilt at run
// time. Called on the window's thread (open, autosave, shutdown) while workers use the queue.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/queue_list.h"

namespace bw::engine {

class KeyringService;

inline constexpr const char *kDefaultQueueFileName = "filelist.ftp";
inline constexpr std::int32_t kQueueFileVersion = 1;

// What a load found. A damaged file loads the complete records before the damage and nothing more.
struct QueueFileLoadResult
{
    bool opened = false; // false: missing or unreadable; the queue is unchanged
    std::int32_t declaredCount = 0; // the record count the file states
    std::int32_t loadedCount = 0; // records appended to the queue
    bool damaged = false; // the file ends early or holds an impossible length or count
    std::string problem; // what was wrong, for the log; empty when nothing was
    std::size_t unreadBytes = 0; // bytes after the last record and its blocks left unread (ours have none)

    bool ok() const { return opened && !damaged; }
};

// Appends the file's items to `queue` (behind the items already there), each with a fresh id, in
// status Idle. The keyring, when given, learns which logins the queue uses.
QueueFileLoadResult loadQueueFile(
    const std::filesystem::path &path, core::QueueList &queue, KeyringService *keyring = nullptr);

// Writes every item that is neither done nor marked for removal, in queue order. The file is replaced
// atomically and created with mode 0600 (the URLs hold passwords); on failure the old file stays as it
// was and false is returned. With a keyring, a URL whose password the keyring holds is written without
// it (every other byte as before).
bool saveQueueFile(
    const std::filesystem::path &path, core::QueueList &queue, KeyringService *keyring = nullptr);

// Why `path` is no queue file to open (unreadable, empty, damaged, or something else such as a picture);
// empty when it reads as a queue file to its last byte. Loads into a scratch queue, so nothing reaches a
// real one.
std::string queueFileProblem(const std::filesystem::path &path);

// The file's bytes for the queue's items to keep, and the reverse; what the two functions above use.
std::string encodeQueue(core::QueueList &queue, KeyringService *keyring = nullptr);
QueueFileLoadResult decodeQueue(std::string_view bytes, core::QueueList &queue);

} // namespace bw::engine

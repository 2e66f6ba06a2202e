// SPDX-License-Identifier: MIT
// Where a download writes its bytes and how the finished file takes its name. The bytes go to a file of
// Bellwick's own beside the target, "NAME.part", created exclusively and never through a symbolic link,
// and a download resumes only from that file. The finished file then takes its name without replacing
// anything the user has, unless the user chose Overwrite. One job thread at a time uses one PartFile.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bw::engine {

// What a download does when a file of its local name is there already and is no complete copy.
enum class IfFileExists
{
    Rename = 0, // the new file takes the first free "NAME (1).EXT", "NAME (2).EXT", ...
    Overwrite = 1, // the finished file replaces it, by rename, only once it is complete
    Skip = 2, // the item ends and the file stays as it is
};

// The stored number; an unknown one reads as Rename.
IfFileExists ifFileExistsFromIndex(int index);
// "rename", "overwrite" or "skip"; nothing for any other text.
std::optional<IfFileExists> ifFileExistsFromName(std::string_view name);

inline constexpr std::string_view kPartSuffix = ".part";

// `path` with " (number)" before its last extension: "a/b.tar.gz" -> "a/b.tar (2).gz". A name whose only
// dot leads it (".bashrc") has no extension: ".bashrc (2)".
std::string numberedName(const std::string &path, int number);

class PartFile
{
public:
    enum class Start
    {
        Transfer, // download into writePath()
        Complete, // nothing to fetch: writePath() already holds the whole file
        Skip, // a file has the name: it stays, and the item ends without a transfer
        Refused, // the partial file is no file of ours to write, or longer than the remote file
    };

    // Decides, before a download of `listedSizeBytes` (below 1: unknown) to `localPath`, what the download
    // writes. `resumeBareName`: the item's own record says it was started before, so a partial file at the
    // bare name (left by a version that wrote there) is resumed in place when no part file exists.
    static PartFile plan(
        const std::string &localPath, std::int64_t listedSizeBytes, IfFileExists rule, bool resumeBareName);

    // "NAME.part" for `localPath`.
    static std::string partPathOf(const std::string &localPath);

    Start start() const { return m_start; }

    // The file the transfer writes (and resumes from).
    const std::string &writePath() const { return m_writePath; }

    // Where the file ended; the local path until finish() chose another name.
    const std::string &finalPath() const { return m_finalPath; }

    // Why the download does not run (Complete, Skip, Refused); after finish(), what it did with a name that
    // was taken or why it failed. Empty otherwise.
    const std::string &statusLine() const { return m_statusLine; }

    // After the transfer. `transferred`: the bytes are all there, so the part file takes its name (false
    // when that failed; the part file then stays). Otherwise an empty part file this plan created goes.
    bool finish(bool transferred);

    // The time (seconds since 1970) the finished file is to show as its last change, set by finish().
    void setModificationTime(std::int64_t unixSeconds) { m_modificationTime = unixSeconds; }

private:
    bool placeFinishedFile();
    void applyModificationTime();
    bool placeUnderTakenName();

    Start m_start = Start::Transfer;
    IfFileExists m_rule = IfFileExists::Rename;
    std::string m_localPath;
    std::string m_writePath;
    std::string m_finalPath;
    std::string m_statusLine;
    bool m_inPlace = false; // the transfer writes the local path itself: nothing to move
    bool m_created = false; // this plan created the part file
    std::optional<std::int64_t> m_modificationTime;
};

} // namespace bw::engine

// SPDX-License-Identifier: MIT
// The saved FTP sites and their file "database.usr": little-endian 32-bit integers and length-prefixed
// strings, written with a leading -1 marker and version 1; files without the marker are the older
// layout without the four per-site options. Settings newer than that layout (TLS, protocol) follow the
// entries as "Key=Value" lines per entry, written only when some entry needs them, so files stay
// readable both ways: an older Bellwick reads the entries and ignores the rest, an older file reads
// with the defaults. Plain C++, usable without widgets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bw::engine {
class KeyringService;
class SettingsStore;
struct KeyringLogin;
} // namespace bw::engine

namespace bw::browse {

// How a site speaks TLS; stored as these numbers.
enum class SiteTls : std::int32_t
{
    None = 0,
    Explicit = 1, // AUTH TLS on the FTP port: ftpes://
    Implicit = 2, // TLS from the first byte, port 990: ftps://
};

// What the site's server speaks; stored as these numbers. SFTP brings its own encryption: no TLS.
enum class SiteProtocol : std::int32_t
{
    Ftp = 0,
    Sftp = 1, // SSH file transfer, port 22: sftp://
};

// The four per-site connection options, as the settings hold them, the site's TLS and its protocol.
struct SiteOptions
{
    std::int32_t retryTime = 30;
    std::int32_t retryCount = 30;
    std::int32_t timeout = 30;
    std::int32_t passive = 0;
    SiteTls tls = SiteTls::None;
    SiteProtocol protocol = SiteProtocol::Ftp;

    bool operator==(const SiteOptions &) const = default;
};

// "ftp://", "ftpes://" or "ftps://" for the site's TLS.
const char *siteSchemePrefix(SiteTls tls);
// "sftp://" for an SFTP site, else the prefix of its TLS.
const char *siteSchemePrefix(const SiteOptions &options);

// "RetryTime", "RetryCount", "Timeout" and "Passive" of the settings' "Options" (30, 30, 30 and 1 when
// absent); passive is stored as 0 or 1.
SiteOptions siteOptionsFromSettings(const engine::SettingsStore &store);

struct SiteEntry
{
    std::string name;
    std::string password;
    std::string user;
    std::int32_t anonymous = 0;
    std::int32_t port = 21;
    std::string address;
    SiteOptions options;

    bool operator==(const SiteEntry &) const = default;
};

// What the last load found where the site file should be.
enum class SiteFileState
{
    Missing, // no file yet: nothing to keep
    Loaded,
    Damaged, // cut short or garbled: the complete entries were loaded
    Unreadable, // there, but it could not be read
};

class SiteList
{
public:
    static constexpr std::int32_t kMarker = -1;
    static constexpr std::int32_t kVersion = 1;

    void append(const SiteEntry &entry) { m_entries.push_back(entry); }

    // Replaces the entry at `index`; an index outside the list does nothing.
    void replace(std::size_t index, const SiteEntry &entry);

    // Removes the entry at `index`; an index outside the list does nothing.
    void remove(std::size_t index);

    const SiteEntry &at(std::size_t index) const { return m_entries.at(index); }

    std::size_t count() const { return m_entries.size(); }

    void clear() { m_entries.clear(); }

    const std::vector<SiteEntry> &entries() const { return m_entries; }

    // The file's bytes for the whole list (marker, version 1, count, entries with their options).
    std::string serialize() const;
    // Reads the file's bytes. The entries of an older file take `olderFileOptions`. A damaged or cut
    // file yields the entries that are complete; returns false when it was not whole.
    bool parse(std::string_view bytes, const SiteOptions &olderFileOptions);

    // Loads the file; when it cannot be opened the list stays as it is and false is returned.
    bool load(const std::filesystem::path &path, const SiteOptions &olderFileOptions);
    // Writes the file through a temporary file renamed over the old one, readable by the user only
    // (it holds passwords). Creates the folder when needed. A file that was damaged or unreadable at
    // load is first renamed aside ("database.usr.damaged-<time>") so its bytes are never lost. False when
    // nothing could be written; the old file then stays as it was.
    bool save(const std::filesystem::path &path);
    // Saves only when the entries differ from what was loaded or last saved (the exit save).
    bool saveIfModified(const std::filesystem::path &path);

    bool isModified() const { return serialize() != m_savedBytes; }

    SiteFileState fileState() const { return m_fileState; }

    // What was wrong with the file at load; empty when nothing was.
    const std::string &loadProblem() const { return m_loadProblem; }

    // With a keyring, a site's password leaves the file once the keyring holds it (an empty password in
    // the file then means "in the keyring"), and a deleted site's entry goes. Borrowed; null for none.
    void setKeyring(engine::KeyringService *keyring);

    engine::KeyringService *keyring() const { return m_keyring; }

    // Receives one line for the log when a damaged file has been set aside.
    void setNoticeHandler(std::function<void(const std::string &line)> handler)
    {
        m_notice = std::move(handler);
    }

private:
    bool setDamagedFileAside();
    void noteLoginsInUse() const; // tells the keyring which logins the sites use

    engine::KeyringService *m_keyring = nullptr; // before m_savedBytes, which serialize() makes
    std::vector<SiteEntry> m_entries;
    std::string m_savedBytes = serialize(); // the entries as the file holds them
    SiteFileState m_fileState = SiteFileState::Missing;
    std::string m_loadProblem;
    std::filesystem::path m_damagedFile; // set aside before anything is written over it
    std::function<void(const std::string &)> m_notice;
};

// The keyring login of a site with a user of its own; none for anonymous sites.
std::optional<engine::KeyringLogin> siteLogin(const SiteEntry &entry);

} // namespace bw::browse

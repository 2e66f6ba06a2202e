// SPDX-License-Identifier: MIT
// The certificates the user chose to trust although they do not verify: one SHA-256 fingerprint per host
// and port, kept in "trusted-certificates" in the user's data folder. Workers look fingerprints up
// while the window adds them; every member may be called from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bw::engine {

inline constexpr const char *kTrustStoreFileName = "trusted-certificates";

// "$XDG_DATA_HOME/Tolvenby/Bellwick/trusted-certificates", beside the saved sites (~/.local/share when
// XDG_DATA_HOME is unset or not absolute). Empty when neither it nor HOME is known.
std::filesystem::path defaultTrustStorePath();

// A fingerprint as the TLS layer writes it: upper-case hex pairs joined by ':'. Accepts either case,
// with or without the colons; nullopt for anything that is not 32 bytes of hex.
std::optional<std::string> normalizeFingerprint(std::string_view text);

class CertificateTrustStore
{
public:
    // An empty path keeps the fingerprints in memory only.
    explicit CertificateTrustStore(std::filesystem::path file = {});
    CertificateTrustStore(const CertificateTrustStore &) = delete;
    CertificateTrustStore &operator=(const CertificateTrustStore &) = delete;

    // Reads the file (a missing one holds nothing). Lines that do not read as "host port fingerprint"
    // are skipped and kept as they are for the next write. False when the file exists but cannot be read.
    bool load();

    // The trusted fingerprint for the host and port, or empty.
    std::string trustedFingerprint(std::string_view host, std::int32_t port) const;

    // Trusts `sha256` for the host and port (replacing an earlier one) and writes the file, merged with
    // what other programs wrote to it meanwhile. False for a malformed fingerprint or a host the file
    // cannot hold (empty, with a blank or bracket inside, "#" first), or when the file could not be
    // written (the fingerprint is then trusted for this run only).
    bool trust(std::string_view host, std::int32_t port, std::string_view sha256);
    // Trusts nothing for the host and port any more; false when the file could not be written.
    bool forget(std::string_view host, std::int32_t port);

    // Lines of the file the last load or write could not read.
    std::size_t skippedLines() const;

    const std::filesystem::path &filePath() const { return m_file; }

    using Key = std::pair<std::string, std::int32_t>; // the host (lower case, no brackets) and port

    // The file's text as read: lines starting with "#" (after blanks) are comments and vanish; lines
    // that do not read as "host port fingerprint" are kept byte for byte.
    struct Contents
    {
        std::map<Key, std::string> fingerprints;
        std::vector<std::string> unreadLines;

        bool operator==(const Contents &) const = default;
    };

    static Contents parse(const std::string &text);
    // The text written for `contents`; parsing it gives `contents` back.
    static std::string textOf(const Contents &contents);

private:
    static Key keyOf(std::string_view host, std::int32_t port);
    // Re-reads the file, applies the change to it and writes it back, under a lock on the folder so
    // that two programs writing at once both keep their entries.
    bool update(const Key &key, const std::optional<std::string> &fingerprint);

    const std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    std::map<Key, std::string> m_fingerprints; // guarded by m_mutex
    std::vector<std::string> m_unreadLines; // guarded by m_mutex
};

} // namespace bw::engine

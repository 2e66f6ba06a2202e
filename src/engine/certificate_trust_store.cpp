// SPDX-License-Identifier: MIT
#include "engine/certificate_trust_store.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/file_util.h"
#include "platform/unique_fd.h"

namespace bw::engine {

namespace {

constexpr std::size_t kDigestBytes = 32;
constexpr const char *kHeader = "# Bellwick: certificates trusted by the user (host port SHA-256)";

std::string lowered(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The host as a key: names compare without case, an IPv6 address without its brackets.
std::string hostKey(std::string_view host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return lowered(host);
}

// Whether a key written as the first field of a line reads back as itself: one field (no blank), not
// taken for a comment, and no brackets that a second reading would strip.
bool isStorableKey(std::string_view key)
{
    const auto unfit = [](char c) {
        return std::isspace(static_cast<unsigned char>(c)) || c == '[' || c == ']';
    };
    return !key.empty() && key.front() != '#' && std::none_of(key.begin(), key.end(), unfit);
}

bool readWhole(const std::filesystem::path &file, std::string &text, bool &missing)
{
    missing = false;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::error_code error;
        missing = !std::filesystem::exists(file, error) && !error;
        return missing;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Holds an exclusive lock on a folder while the file in it is rewritten; released when it goes.
class FolderLock
{
public:
    explicit FolderLock(const std::filesystem::path &folder)
        : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_fd.get() < 0)
            return;
        int result = 0;
        do
            result = ::flock(m_fd.get(), LOCK_EX);
        while (result != 0 && errno == EINTR);
    }

private:
    platform::UniqueFd m_fd; // closing it releases the lock
};

} // namespace

std::filesystem::path defaultTrustStorePath()
{
    std::filesystem::path base;
    const char *data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') {
        base = data;
    } else {
        const char *home = std::getenv("HOME");
        if (!home || home[0] == '\0')
            return {};
        base = std::filesystem::path(home) / ".local/share";
    }
    return base / "Tolvenby" / "Bellwick" / kTrustStoreFileName;
}

std::optional<std::string> normalizeFingerprint(std::string_view text)
{
    std::string hex;
    for (const char c : text) {
        if (c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        hex.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    if (hex.size() != 2 * kDigestBytes)
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        if (i != 0)
            out.push_back(':');
        out.append(hex, i, 2);
    }
    return out;
}

CertificateTrustStore::CertificateTrustStore(std::filesystem::path file)
    : m_file(std::move(file))
{}

CertificateTrustStore::Key CertificateTrustStore::keyOf(std::string_view host, std::int32_t port)
{
    return {hostKey(host), port};
}

CertificateTrustStore::Contents CertificateTrustStore::parse(const std::string &text)
{
    Contents contents;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // A line kept unread is written back byte for byte, CRs included; only its reading drops one.
        const std::string_view content =
            std::string_view(line).substr(0, line.size() - (line.ends_with('\r') ? 1 : 0));
        const std::size_t first = content.find_first_not_of(" \t");
        if (content.empty() || (first != std::string_view::npos && content[first] == '#'))
            continue; // a comment, even after blanks
        std::istringstream fields{std::string(content)};
        std::string host;
        std::string portText;
        std::string fingerprint;
        std::string extra;
        fields >> host >> portText >> fingerprint >> extra;
        std::int32_t port = 0;
        const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
        const auto normal = normalizeFingerprint(fingerprint);
        const Key key = keyOf(host, port);
        if (!isStorableKey(key.first) || !extra.empty() || error != std::errc()
            || end != portText.data() + portText.size() || port < 1 || port > 65535 || !normal) {
            contents.unreadLines.push_back(line);
            continue;
        }
        contents.fingerprints[key] = *normal;
    }
    return contents;
}

std::string CertificateTrustStore::textOf(const Contents &contents)
{
    std::string text = std::string(kHeader) + "\n";
    for (const auto &[key, fingerprint] : contents.fingerprints)
        text += key.first + " " + std::to_string(key.second) + " " + fingerprint + "\n";
    for (const std::string &line : contents.unreadLines)
        text += line + "\n";
    return text;
}

bool CertificateTrustStore::load()
{
    if (m_file.empty())
        return true;
    std::string text;
    bool missing = false;
    if (!readWhole(m_file, text, missing))
        return false;
    Contents contents = parse(text);
    std::lock_guard lock{m_mutex};
    m_fingerprints = std::move(contents.fingerprints);
    m_unreadLines = std::move(contents.unreadLines);
    return true;
}

std::string CertificateTrustStore::trustedFingerprint(std::string_view host, std::int32_t port) const
{
    const Key key = keyOf(host, port);
    std::lock_guard lock{m_mutex};
    const auto found = m_fingerprints.find(key);
    return found == m_fingerprints.end() ? std::string() : found->second;
}

bool CertificateTrustStore::trust(std::string_view host, std::int32_t port, std::string_view sha256)
{
    const auto normal = normalizeFingerprint(sha256);
    const Key key = keyOf(host, port);
    // A host the file could not give back (blank inside, "#" first) is refused rather than lost later.
    if (!normal || !isStorableKey(key.first))
        return false;
    return update(key, *normal);
}

bool CertificateTrustStore::forget(std::string_view host, std::int32_t port)
{
    return update(keyOf(host, port), std::nullopt);
}

std::size_t CertificateTrustStore::skippedLines() const
{
    std::lock_guard lock{m_mutex};
    return m_unreadLines.size();
}

bool CertificateTrustStore::update(const Key &key, const std::optional<std::string> &fingerprint)
{
    std::lock_guard lock{m_mutex};
    const auto apply = [&] {
        if (fingerprint)
            m_fingerprints[key] = *fingerprint;
        else
            m_fingerprints.erase(key);
    };
    if (m_file.empty()) {
        apply();
        return true;
    }
    std::error_code error;
    std::filesystem::create_directories(m_file.parent_path(), error);
    const FolderLock folderLock(m_file.parent_path());
    // What other programs wrote since our load wins over our older view, except for this key.
    std::string text;
    bool missing = false;
    if (!readWhole(m_file, text, missing)) {
        apply(); // a file we cannot read is not written over: trusted for this run only
        return false;
    }
    if (!missing) {
        Contents contents = parse(text);
        m_fingerprints = std::move(contents.fingerprints);
        m_unreadLines = std::move(contents.unreadLines);
    }
    apply();
    const std::string bytes = textOf({m_fingerprints, m_unreadLines});
    return platform::writeFileAtomically(
        m_file,
        [&bytes](
            std::FILE *file) { return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(); },
        0600);
}

} // namespace bw::engine

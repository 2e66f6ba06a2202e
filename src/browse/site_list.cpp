// SPDX-License-Identifier: MIT
#include "browse/site_list.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include "engine/keyring_login.h"
#include "engine/keyring_service.h"
#include "engine/settings.h"
#include "engine/settings_store.h"
#include "platform/file_util.h"

namespace bw::browse {

namespace {

void putInt(std::string &out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

void putString(std::string &out, const std::string &text)
{
    putInt(out, static_cast<std::int32_t>(text.size()));
    out += text;
}

// Reads little-endian values from the file's bytes; every read fails once the bytes run out.
class Reader
{
public:
    explicit Reader(std::string_view bytes)
        : m_bytes(bytes)
    {}

    bool readInt(std::int32_t &value)
    {
        if (m_bytes.size() - m_pos < 4)
            return false;
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i)
            bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(m_bytes[m_pos + i])) << (8 * i);
        m_pos += 4;
        value = static_cast<std::int32_t>(bits);
        return true;
    }

    bool atEnd() const { return m_pos == m_bytes.size(); }

    bool readString(std::string &text)
    {
        std::int32_t length = 0;
        if (!readInt(length) || length < 0 || static_cast<std::size_t>(length) > m_bytes.size() - m_pos)
            return false;
        text.assign(m_bytes.substr(m_pos, static_cast<std::size_t>(length)));
        m_pos += static_cast<std::size_t>(length);
        return true;
    }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

bool readEntry(Reader &reader, bool withOptions, const SiteOptions &olderFileOptions, SiteEntry &entry)
{
    if (!reader.readString(entry.name) || !reader.readString(entry.password) || !reader.readString(entry.user)
        || !reader.readInt(entry.anonymous) || !reader.readInt(entry.port)
        || !reader.readString(entry.address))
        return false;
    if (!withOptions) {
        entry.options = olderFileOptions;
        return true;
    }
    return reader.readInt(entry.options.retryCount) && reader.readInt(entry.options.retryTime)
        && reader.readInt(entry.options.timeout) && reader.readInt(entry.options.passive);
}

// Marks the block of later settings after the entries.
constexpr std::string_view kExtrasTag = "Bellwick site settings";
constexpr std::string_view kTlsKey = "TLS=";
constexpr std::string_view kProtocolKey = "Protocol=";

bool hasExtras(const SiteEntry &entry)
{
    return entry.options.tls != SiteTls::None || entry.options.protocol != SiteProtocol::Ftp;
}

std::string extrasOf(const SiteEntry &entry)
{
    std::string lines;
    if (entry.options.tls != SiteTls::None)
        lines += std::string(kTlsKey) + std::to_string(static_cast<std::int32_t>(entry.options.tls)) + "\n";
    if (entry.options.protocol != SiteProtocol::Ftp)
        lines += std::string(kProtocolKey) + std::to_string(static_cast<std::int32_t>(entry.options.protocol))
            + "\n";
    return lines;
}

// Unknown keys and values are left at their defaults: a newer Bellwick may have written them.
void applyExtras(std::string_view lines, SiteEntry &entry)
{
    while (!lines.empty()) {
        const std::size_t end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
        if (line.starts_with(kTlsKey)) {
            const std::string_view value = line.substr(kTlsKey.size());
            if (value == "1")
                entry.options.tls = SiteTls::Explicit;
            else if (value == "2")
                entry.options.tls = SiteTls::Implicit;
        } else if (line == std::string(kProtocolKey) + "1") {
            entry.options.protocol = SiteProtocol::Sftp;
        }
    }
}

// The block after the entries. False when it is ours but cut short.
bool readExtras(Reader &reader, std::vector<SiteEntry> &entries)
{
    std::string tag;
    if (!reader.readString(tag) || tag != kExtrasTag)
        return true; // not our block: bytes some other writer left; the entries are whole
    std::int32_t count = 0;
    if (!reader.readInt(count))
        return false;
    for (std::int32_t i = 0; i < count; ++i) {
        std::string lines;
        if (!reader.readString(lines))
            return false;
        if (static_cast<std::size_t>(i) < entries.size())
            applyExtras(lines, entries[static_cast<std::size_t>(i)]);
    }
    return true;
}

} // namespace

const char *siteSchemePrefix(SiteTls tls)
{
    switch (tls) {
    case SiteTls::Explicit:
        return "ftpes://";
    case SiteTls::Implicit:
        return "ftps://";
    default:
        return "ftp://";
    }
}

const char *siteSchemePrefix(const SiteOptions &options)
{
    return options.protocol == SiteProtocol::Sftp ? "sftp://" : siteSchemePrefix(options.tls);
}

SiteOptions siteOptionsFromSettings(const engine::SettingsStore &store)
{
    SiteOptions options;
    options.retryTime = store.readInt(engine::kOptionsGroup, "RetryTime", 30);
    options.retryCount = store.readInt(engine::kOptionsGroup, "RetryCount", 30);
    options.timeout = store.readInt(engine::kOptionsGroup, "Timeout", 30);
    options.passive =
        store.readInt(engine::kOptionsGroup, "Passive", engine::Settings{}.passive ? 1 : 0) != 0 ? 1 : 0;
    return options;
}

std::optional<engine::KeyringLogin> siteLogin(const SiteEntry &entry)
{
    if (entry.anonymous != 0 || entry.user.empty() || entry.user == core::kAnonymousUser)
        return std::nullopt;
    std::string protocol = siteSchemePrefix(entry.options);
    protocol.resize(protocol.size() - 3); // "://"
    return engine::KeyringLogin{protocol, entry.address, entry.port, entry.user};
}

void SiteList::setKeyring(engine::KeyringService *keyring)
{
    m_keyring = keyring;
    m_savedBytes = serialize();
    noteLoginsInUse();
}

void SiteList::noteLoginsInUse() const
{
    if (!m_keyring)
        return;
    std::set<engine::KeyringLogin> logins;
    for (const SiteEntry &entry : m_entries) {
        if (std::optional<engine::KeyringLogin> login = siteLogin(entry))
            logins.insert(std::move(*login));
    }
    m_keyring->setInUse(engine::KeyringService::Holder::Sites, std::move(logins));
}

void SiteList::replace(std::size_t index, const SiteEntry &entry)
{
    if (index < m_entries.size())
        m_entries[index] = entry;
}

void SiteList::remove(std::size_t index)
{
    if (index < m_entries.size())
        m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
}

std::string SiteList::serialize() const
{
    std::string out;
    putInt(out, kMarker);
    putInt(out, kVersion);
    putInt(out, static_cast<std::int32_t>(m_entries.size()));
    for (const SiteEntry &entry : m_entries) {
        putString(out, entry.name);
        putString(
            out, m_keyring ? m_keyring->filePassword(siteLogin(entry), entry.password) : entry.password);
        putString(out, entry.user);
        putInt(out, entry.anonymous);
        putInt(out, entry.port);
        putString(out, entry.address);
        putInt(out, entry.options.retryCount);
        putInt(out, entry.options.retryTime);
        putInt(out, entry.options.timeout);
        putInt(out, entry.options.passive);
    }
    if (std::any_of(m_entries.begin(), m_entries.end(), hasExtras)) {
        putString(out, std::string(kExtrasTag));
        putInt(out, static_cast<std::int32_t>(m_entries.size()));
        for (const SiteEntry &entry : m_entries)
            putString(out, extrasOf(entry));
    }
    return out;
}

bool SiteList::parse(std::string_view bytes, const SiteOptions &olderFileOptions)
{
    Reader reader(bytes);
    std::int32_t first = 0;
    std::int32_t version = 0;
    std::int32_t count = 0;
    m_entries.clear();
    if (!reader.readInt(first))
        return false;
    if (first == kMarker) {
        if (!reader.readInt(version) || !reader.readInt(count))
            return false;
    } else {
        count = first;
    }
    // No reservation from the count: a damaged count must not ask for gigabytes.
    for (std::int32_t i = 0; i < count; ++i) {
        SiteEntry entry;
        if (!readEntry(reader, version != 0, olderFileOptions, entry))
            return false;
        m_entries.push_back(std::move(entry));
    }
    return reader.atEnd() || readExtras(reader, m_entries);
}

bool SiteList::load(const std::filesystem::path &path, const SiteOptions &olderFileOptions)
{
    m_damagedFile.clear();
    m_loadProblem.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code error;
        const bool present = std::filesystem::exists(path, error) || error;
        m_fileState = present ? SiteFileState::Unreadable : SiteFileState::Missing;
        if (present) {
            m_loadProblem = "it cannot be read";
            m_damagedFile = path;
        }
        m_savedBytes = serialize();
        return false;
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    m_fileState = SiteFileState::Loaded;
    if (in.bad()) {
        m_fileState = SiteFileState::Unreadable;
        m_loadProblem = "it cannot be read to its end";
    }
    // An empty file holds no sites and nothing worth keeping.
    if (!parse(bytes, olderFileOptions) && !bytes.empty() && m_fileState == SiteFileState::Loaded) {
        m_fileState = SiteFileState::Damaged;
        m_loadProblem = "it is damaged; only its complete entries were loaded";
    }
    if (m_fileState != SiteFileState::Loaded)
        m_damagedFile = path;
    m_savedBytes = serialize();
    noteLoginsInUse();
    return true;
}

bool SiteList::setDamagedFileAside()
{
    std::error_code error;
    if (!std::filesystem::exists(m_damagedFile, error)) {
        m_damagedFile.clear(); // gone meanwhile: nothing left to keep
        return true;
    }
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = m_damagedFile.string() + ".damaged-" + stamp;
    std::filesystem::path aside = base;
    for (int n = 2; std::filesystem::exists(aside, error) || error; ++n) {
        if (n > 100)
            return false;
        aside = base + "-" + std::to_string(n);
    }
    std::filesystem::rename(m_damagedFile, aside, error);
    if (error)
        return false;
    if (m_notice)
        m_notice("The site file " + m_damagedFile.string() + " could not be read whole; it was kept as "
            + aside.string() + " and a new one is written.");
    m_damagedFile.clear();
    return true;
}

bool SiteList::save(const std::filesystem::path &path)
{
    std::error_code error;
    // Writing over a file that could not be read would lose the sites it still holds.
    if (!m_damagedFile.empty() && std::filesystem::equivalent(path, m_damagedFile, error)
        && !setDamagedFileAside())
        return false;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), error);
    const std::string bytes = serialize();
    const bool written = platform::writeFileAtomically(
        path,
        [&bytes](
            std::FILE *file) { return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(); },
        0600);
    if (written) {
        m_savedBytes = bytes;
        noteLoginsInUse(); // after the file no longer needs what a deleted site had
    }
    return written;
}

bool SiteList::saveIfModified(const std::filesystem::path &path)
{
    return !isModified() || save(path);
}

} // namespace bw::browse

// SPDX-License-Identifier: MIT
#include "net/ssh_host_keys.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bw::net {

namespace {

struct EntryFree
{
    void operator()(ssh_knownhosts_entry *entry) const { ssh_knownhosts_entry_free(entry); }
};

// The fingerprints of the known_hosts lines for the session's host (hashed or not), in file order.
std::string knownFingerprints(ssh_session session, const std::string &knownHostsPath)
{
    char *host = nullptr;
    unsigned int port = 22;
    if (ssh_options_get(session, SSH_OPTIONS_HOST, &host) != SSH_OK || !host)
        return {};
    ssh_options_get_port(session, &port);
    // OpenSSH writes "[host]:port" for every port but 22.
    const std::string name =
        port == 22 ? std::string(host) : "[" + std::string(host) + "]:" + std::to_string(port);
    ssh_string_free_char(host);
    std::ifstream file(knownHostsPath);
    std::string line;
    std::string found;
    while (std::getline(file, line)) {
        if (line.empty() || line.front() == '#' || line.front() == '@')
            continue;
        ssh_knownhosts_entry *rawEntry = nullptr;
        if (ssh_known_hosts_parse_line(name.c_str(), line.c_str(), &rawEntry) != SSH_OK)
            continue;
        const std::unique_ptr<ssh_knownhosts_entry, EntryFree> entry{rawEntry};
        if (!entry->publickey)
            continue;
        const std::string fingerprint = sshKeyFingerprint(entry->publickey);
        if (!fingerprint.empty() && found.find(fingerprint) == std::string::npos)
            found += (found.empty() ? "" : ", ") + fingerprint;
    }
    return found;
}

} // namespace

std::string sshKeyFingerprint(ssh_key key)
{
    unsigned char *hash = nullptr;
    size_t length = 0;
    if (!key || ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != SSH_OK)
        return {};
    // libssh's text is "SHA256:" and unpadded base64, the form ssh-keygen prints.
    char *text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    if (!text)
        return {};
    std::string fingerprint = text;
    ssh_string_free_char(text);
    return fingerprint;
}

HostKeyCheck checkHostKey(
    ssh_session session, const std::string &knownHostsPath, const std::string &trustedFingerprint)
{
    HostKeyCheck check;
    ssh_key rawKey = nullptr;
    if (ssh_get_server_publickey(session, &rawKey) != SSH_OK) {
        check.message = "The server sent no host key";
        return check;
    }
    const UniqueSshKey key{rawKey};
    check.fingerprint = sshKeyFingerprint(key.get());
    if (const char *type = ssh_key_type_to_char(ssh_key_type(key.get())))
        check.keyType = type;

    ssh_knownhosts_entry *rawEntry = nullptr;
    const ssh_known_hosts_e state = ssh_session_get_known_hosts_entry(session, &rawEntry);
    const std::unique_ptr<ssh_knownhosts_entry, EntryFree> entry{rawEntry};
    switch (state) {
    case SSH_KNOWN_HOSTS_OK:
        check.verdict = HostKeyVerdict::Known;
        return check;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER: {
        // OTHER: the host is known with a key of another type, which OpenSSH treats as a change too.
        check.verdict = HostKeyVerdict::Changed;
        const std::string known = knownFingerprints(session, knownHostsPath);
        check.message = "The server's host key has changed: known_hosts holds "
            + (known.empty() ? std::string("another key") : known) + ", the server sent " + check.fingerprint
            + ". Remove the old line from known_hosts if the change is expected";
        return check;
    }
    case SSH_KNOWN_HOSTS_NOT_FOUND:
    case SSH_KNOWN_HOSTS_UNKNOWN:
        if (!check.fingerprint.empty() && check.fingerprint == trustedFingerprint) {
            check.verdict = HostKeyVerdict::Known;
            return check;
        }
        check.verdict = HostKeyVerdict::Unknown;
        check.message = "Host key unknown: " + check.fingerprint;
        return check;
    case SSH_KNOWN_HOSTS_ERROR:
        break;
    }
    check.message = std::string("The known_hosts file could not be read: ") + ssh_get_error(session);
    return check;
}

bool appendKnownHost(ssh_session session, const std::string &path, std::string &error)
{
    char *rawLine = nullptr;
    if (ssh_session_export_known_hosts_entry(session, &rawLine) != SSH_OK || !rawLine) {
        error = std::string("The host key could not be written as a line: ") + ssh_get_error(session);
        return false;
    }
    std::string line = rawLine;
    ssh_string_free_char(rawLine);
    if (line.empty() || line.back() != '\n')
        line += '\n';

    const std::filesystem::path file{path};
    const std::filesystem::path folder = file.parent_path();
    if (!folder.empty() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "Cannot make " + folder.string();
        return false;
    }
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "Cannot open " + path;
        return false;
    }

    // A file without a final line break would glue the new line onto its last one.
    struct stat info
    {};

    if (::fstat(fd, &info) == 0 && info.st_size > 0) {
        char last = '\n';
        if (const int reader = ::open(file.c_str(), O_RDONLY | O_CLOEXEC); reader >= 0) {
            if (::pread(reader, &last, 1, info.st_size - 1) != 1)
                last = '\n';
            ::close(reader);
        }
        if (last != '\n')
            line.insert(line.begin(), '\n');
    }
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        error = "Cannot write " + path;
        return false;
    }
    return true;
}

} // namespace bw::net

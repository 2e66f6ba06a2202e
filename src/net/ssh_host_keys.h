// SPDX-License-Identifier: MIT
// The server's host key against ~/.ssh/known_hosts (hashed lines and every key type OpenSSH writes;
// "[host]:port" for a port other than 22): the verdict, the OpenSSH-style fingerprint, and the line
// that trusting a key appends. Never asks anyone: an unknown key is an error the caller shows.
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include <libssh/libssh.h>

namespace bw::net {

struct SshKeyFree
{
    void operator()(ssh_key key) const { ssh_key_free(key); }
};

// A libssh key with its owner.
using UniqueSshKey = std::unique_ptr<std::remove_pointer_t<ssh_key>, SshKeyFree>;

enum class HostKeyVerdict
{
    Known, // a known_hosts line (or the key trusted for this run) matches
    Unknown, // no line for this host
    Changed, // a line for this host holds another key
    Failed, // no key from the server, or the file could not be read
};

struct HostKeyCheck
{
    HostKeyVerdict verdict = HostKeyVerdict::Failed;
    std::string fingerprint; // "SHA256:<base64 without padding>" of the server's key
    std::string keyType; // "ssh-ed25519", ...
    std::string message; // for Unknown, Changed and Failed: the text the user sees
};

// "SHA256:..." of a key, as ssh-keygen -l prints it; empty on failure.
std::string sshKeyFingerprint(ssh_key key);

// Checks the key of a connected session (its host and port set as options, `knownHostsPath` as its
// known_hosts file). `trustedFingerprint` ("SHA256:...") accepts that one key for this run, when it is not a
// changed key.
HostKeyCheck checkHostKey(
    ssh_session session, const std::string &knownHostsPath, const std::string &trustedFingerprint);

// Appends the session's host key to the known_hosts file at `path` as OpenSSH does (creating its
// folder 0700 and the file 0600 when missing). False with `error` set on failure.
bool appendKnownHost(ssh_session session, const std::string &path, std::string &error);

} // namespace bw::net

// SPDX-License-Identifier: MIT
// Logging in over an open SshConnection, in the order users expect from OpenSSH: the agent
// (SSH_AUTH_SOCK), the key files (IdentityFile lines, then ~/.ssh/id_*), then the password. Runs on
// the connection's driving thread.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "net/ssh_connection.h"

namespace bw::net {

// Asked for the passphrase of a key file (its path with "~" for the home); nullopt: none given.
using SshPassphraseSource = std::function<std::optional<std::string>(const std::string &keyPath)>;

struct SshLoginRules
{
    std::string password; // empty: none
    std::string home;
    std::vector<std::string> identityFiles; // tried before the default key files
    SshPassphraseSource passphrase; // null: a key with a passphrase needs the agent
    std::map<std::string, std::string> *passphraseCache = nullptr; // answers kept for the next login
    int timeoutSeconds = 30;
};

// The key files tried, in order: the configured ones, then id_ed25519, id_ecdsa, id_rsa ... in ~/.ssh.
std::vector<std::string> sshKeyFiles(const SshLoginRules &rules);

// True when logged in; otherwise the connection holds the error: PasswordInvalid when the server
// refused every way (its detail naming a key that needs its passphrase), or the stop or failure.
bool sshLogin(SshConnection &connection, const SshLoginRules &rules);

} // namespace bw::net

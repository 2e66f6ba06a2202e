// SPDX-License-Identifier: MIT
#include "net/ssh_login.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace bw::net {

namespace {

// What the passphrase callback of one key import saw.
struct PassphraseAsk
{
    const SshLoginRules *rules = nullptr;
    std::string shownPath;
    bool needed = false; // the key is protected
    std::optional<std::string> given;
};

int passphraseCallback(
    const char * /*prompt*/, char *buffer, size_t length, int /*echo*/, int /*verify*/, void *userdata)
{
    auto *ask = static_cast<PassphraseAsk *>(userdata);
    ask->needed = true;
    const SshLoginRules &rules = *ask->rules;
    if (rules.passphraseCache) {
        if (auto found = rules.passphraseCache->find(ask->shownPath); found != rules.passphraseCache->end())
            ask->given = found->second;
    }
    if (!ask->given && rules.passphrase)
        ask->given = rules.passphrase(ask->shownPath);
    if (!ask->given || ask->given->size() + 1 > length)
        return -1;
    std::memcpy(buffer, ask->given->c_str(), ask->given->size() + 1);
    return 0;
}

std::string shownPath(const std::string &path, const std::string &home)
{
    if (!home.empty() && home != "/" && path.starts_with(home + "/"))
        return "~" + path.substr(home.size());
    return path;
}

class Login
{
public:
    Login(SshConnection &connection, const SshLoginRules &rules)
        : m_connection(connection)
        , m_session(connection.handle())
        , m_rules(rules)
    {}

    bool run();

private:
    // One libssh call under the time-out; SSH_AUTH_ERROR becomes the connection's error.
    template <typename Call>
    int call(Call &&body)
    {
        if (m_connection.stopSignal().isSet()) {
            m_connection.failBroken();
            return SSH_AUTH_ERROR;
        }
        m_connection.beginCall(m_rules.timeoutSeconds);
        const int result = body();
        m_connection.endCall();
        if (result == SSH_AUTH_ERROR)
            m_connection.fail(ConnectFailed);
        return result;
    }

    bool tryAgent();
    // SSH_AUTH_SUCCESS, SSH_AUTH_DENIED or SSH_AUTH_ERROR.
    int tryKeyFile(const std::string &path);
    bool refused();

    SshConnection &m_connection;
    ssh_session m_session;
    const SshLoginRules &m_rules;
    std::string m_lockedKey; // the first key that needed a passphrase nobody gave
};

bool Login::run()
{
    int result = call([&] { return ssh_userauth_none(m_session, nullptr); });
    if (result == SSH_AUTH_SUCCESS)
        return true;
    if (result == SSH_AUTH_ERROR)
        return false;
    const int methods = ssh_userauth_list(m_session, nullptr);
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
        const char *agent = std::getenv("SSH_AUTH_SOCK");
        if (agent && *agent) {
            result = call([&] { return ssh_userauth_agent(m_session, nullptr); });
            if (result == SSH_AUTH_SUCCESS)
                return true;
            if (result == SSH_AUTH_ERROR && m_connection.stopSignal().isSet())
                return false;
            m_connection.clearError(); // an agent that cannot be reached is no reason to stop
        }
        for (const std::string &path : sshKeyFiles(m_rules)) {
            result = tryKeyFile(path);
            if (result == SSH_AUTH_SUCCESS)
                return true;
            if (result == SSH_AUTH_ERROR)
                return false;
        }
    }
    if ((methods & SSH_AUTH_METHOD_PASSWORD) && !m_rules.password.empty()) {
        result = call([&] { return ssh_userauth_password(m_session, nullptr, m_rules.password.c_str()); });
        if (result == SSH_AUTH_SUCCESS)
            return true;
        if (result == SSH_AUTH_ERROR)
            return false;
    }
    return refused();
}

int Login::tryKeyFile(const std::string &path)
{
    if (::access(path.c_str(), R_OK) != 0)
        return SSH_AUTH_DENIED;
    // The public half, when beside it, asks the server first: a key it would refuse needs no passphrase.
    ssh_key rawPublic = nullptr;
    if (ssh_pki_import_pubkey_file((path + ".pub").c_str(), &rawPublic) == SSH_OK) {
        const UniqueSshKey publicKey{rawPublic};
        const int offered =
            call([&] { return ssh_userauth_try_publickey(m_session, nullptr, publicKey.get()); });
        if (offered != SSH_AUTH_SUCCESS)
            return offered == SSH_AUTH_ERROR ? SSH_AUTH_ERROR : SSH_AUTH_DENIED;
    }
    PassphraseAsk ask{&m_rules, shownPath(path, m_rules.home), false, std::nullopt};
    ssh_key rawPrivate = nullptr;
    if (ssh_pki_import_privkey_file(path.c_str(), nullptr, passphraseCallback, &ask, &rawPrivate) != SSH_OK) {
        if (ask.needed && m_lockedKey.empty())
            m_lockedKey = ask.shownPath;
        return SSH_AUTH_DENIED;
    }
    const UniqueSshKey privateKey{rawPrivate};
    if (ask.given && m_rules.passphraseCache)
        (*m_rules.passphraseCache)[ask.shownPath] = *ask.given;
    return call([&] { return ssh_userauth_publickey(m_session, nullptr, privateKey.get()); });
}

bool Login::refused()
{
    ErrorCode record{CatProtocol, PasswordInvalid};
    if (!m_lockedKey.empty())
        record.setDetail("Key " + m_lockedKey + " needs its passphrase: add it to ssh-agent");
    else if (m_rules.password.empty())
        record.setDetail("The server refused every key, and the site has no password");
    else
        record.setDetail("The server refused the keys and the password");
    m_connection.setError(record);
    return false;
}

} // namespace

std::vector<std::string> sshKeyFiles(const SshLoginRules &rules)
{
    std::vector<std::string> files = rules.identityFiles;
    for (const char *name : {"id_ed25519", "id_ecdsa", "id_ecdsa_sk", "id_ed25519_sk", "id_rsa", "id_dsa"}) {
        std::string path = rules.home + "/.ssh/" + name;
        if (std::find(files.begin(), files.end(), path) == files.end())
            files.push_back(std::move(path));
    }
    return files;
}

bool sshLogin(SshConnection &connection, const SshLoginRules &rules)
{
    return Login{connection, rules}.run();
}

} // namespace bw::net

// SPDX-License-Identifier: MIT
// The desktop keyring (the Secret Service on the session bus, through libsecret): one entry per login,
// with the attributes application = bellwick, protocol, server, port and user. Every call but the probe
// may wait for the keyring's own unlock prompt, so only the keyring's thread (KeyringService) calls them.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/keyring_login.h"

namespace bw::engine {

// Said once, where the user looks, when passwords cannot go to a keyring.
inline constexpr const char *kNoKeyringWarning =
    "No desktop keyring: passwords stay in the queue file (mode 0600)";

// True when a session bus answers within `timeoutMs` and a Secret Service is on it or can be started by
// it. Never starts a bus: without DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus it is false at once.
bool secretServiceReachable(int timeoutMs);

class Keyring
{
public:
    Keyring();
    ~Keyring();
    Keyring(const Keyring &) = delete;
    Keyring &operator=(const Keyring &) = delete;

    // What a call found; `failed` also covers a prompt the user dismissed and a cancelled call.
    struct Lookup
    {
        bool failed = false;
        std::optional<std::string> password;
    };

    // Stores or replaces the login's password in the default collection.
    bool store(const KeyringLogin &login, const std::string &password);
    Lookup find(const KeyringLogin &login);
    // True when the entry is gone (or was never there).
    bool remove(const KeyringLogin &login);

    // Makes a call in progress, and every later one, give up; any thread may call it.
    void cancel();

    // The reason of the last failure, for the log.
    const std::string &lastError() const { return m_lastError; }

private:
    struct Glib;
    std::unique_ptr<Glib> m_glib;
    std::string m_lastError;
};

} // namespace bw::engine

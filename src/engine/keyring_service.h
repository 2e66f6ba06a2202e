// SPDX-License-Identifier: MIT
// Bellwick's side of the desktop keyring: one thread of its own makes every keyring call (a call may
// wait for the keyring's unlock prompt), while the files, the window and the workers ask it without
// waiting: a file gets a URL without its password only once the keyring holds that password. Any
// thread may call it; the listener is called on the keyring's thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "engine/keyring.h"
#include "engine/keyring_login.h"

namespace bw::engine {

class KeyringService
{
public:
    enum class State
    {
        Probing, // the bus is being asked; passwords stay in the files meanwhile
        Available,
        Missing, // no session bus or no Secret Service: everything works as without a keyring
    };

    // Whose logins a set is: an entry goes only when no holder uses its login any more.
    enum class Holder
    {
        Queue,
        Sites,
    };

    // Starts the keyring's thread, which first probes the bus for at most `probeTimeoutMs`.
    explicit KeyringService(int probeTimeoutMs = 1000);
    // Gives up a call in progress (an open unlock prompt included) and ends the thread.
    ~KeyringService();
    KeyringService(const KeyringService &) = delete;
    KeyringService &operator=(const KeyringService &) = delete;

    State state() const;
    // Waits at most `timeoutMs` for the probe; the state it ended in.
    State waitForProbe(int timeoutMs);

    // Off: the files keep (or get back) the passwords; the keyring is still read for files without them.
    void setUsedForFiles(bool used);
    bool isUsedForFiles() const;

    // The text a file gets for `url`: without its password once the keyring holds it (else it is sent
    // there and the file keeps it this time); with the password put back when the keyring is not used
    // for files and knows it.
    std::string fileUrl(std::string_view url);
    // The same for a site's password: empty once the keyring holds it, and put back into a site loaded
    // without it when the keyring is not used for files.
    std::string filePassword(const std::optional<KeyringLogin> &login, const std::string &password);

    // The logins `holder` now uses. A login it used before and no holder uses now loses its entry, once
    // every holder has told its logins (the command-line program, which has no site list, removes none).
    void setInUse(Holder holder, std::set<KeyringLogin> logins);
    // Removes the login's entry now (a site or item the user deleted), unless a holder still uses it.
    void forget(const KeyringLogin &login);

    // The login's password, waiting (bounded by `stopped`, asked every 100 ms) while the keyring answers
    // or its unlock prompt is open; `onWaiting` is called once when that takes longer than a moment. None
    // without a keyring or an entry.
    std::optional<std::string> lookup(const KeyringLogin &login, const std::function<bool()> &stopped,
        const std::function<void()> &onWaiting = {});
    // Asks for the login in the background, so a later fileUrl() can put its password back.
    void prefetch(const KeyringLogin &login);

    // Waits at most `timeoutMs` until every request sent so far is done; true when they are.
    bool waitUntilIdle(int timeoutMs);

    // Called after the probe and after the keyring took a password or answered a look-up (a file saved
    // now would differ). Setting another one waits for a call under way, so an owner can clear it
    // before it goes.
    void setChangeListener(std::function<void()> listener);

    // The last keyring failure, for the log; empty when there was none.
    std::string lastError() const;

private:
    enum class Task
    {
        Store,
        Find,
        Remove,
    };

    struct Request
    {
        Task task;
        KeyringLogin login;
        std::string password;
    };

    void run(std::stop_token stop, int probeTimeoutMs);
    void carryOut(const Request &request);
    void send(Request request); // takes m_mutex
    bool usedByAnyHolder(const KeyringLogin &login) const; // m_mutex held

    Keyring m_keyring; // used by the keyring's thread only (cancel() from any thread)
    mutable std::mutex m_mutex;
    std::condition_variable_any m_wake; // the thread: a request came (or its stop)
    std::condition_variable m_answered; // the callers: a request is done or the probe ended
    State m_state = State::Probing; // guarded by m_mutex
    bool m_usedForFiles = true; // guarded by m_mutex
    std::deque<Request> m_requests; // guarded by m_mutex
    bool m_busy = false; // guarded by m_mutex: the thread carries out a request
    std::map<KeyringLogin, std::string> m_held; // guarded by m_mutex: passwords the keyring holds
    std::set<KeyringLogin> m_absent; // guarded by m_mutex: logins the keyring answered without
    std::map<KeyringLogin, std::string> m_sending; // guarded by m_mutex: stores not yet done
    std::map<Holder, std::set<KeyringLogin>> m_inUse; // guarded by m_mutex
    void tellChanged();
    std::mutex m_listenerMutex; // guards m_changed and is held while it runs
    std::function<void()> m_changed;
    std::string m_lastError; // guarded by m_mutex
    std::jthread m_thread; // last: starts after everything it uses
};

} // namespace bw::engine

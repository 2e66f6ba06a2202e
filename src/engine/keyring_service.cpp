// SPDX-License-Identifier: MIT
#include "engine/keyring_service.h"

#include <chrono>
#include <utility>
#include <vector>

namespace bw::engine {

KeyringService::KeyringService(int probeTimeoutMs)
    : m_thread([this, probeTimeoutMs](std::stop_token stop) { run(stop, probeTimeoutMs); })
{}

KeyringService::~KeyringService()
{
    m_thread.request_stop();
    m_keyring.cancel(); // an open unlock prompt must not hold the exit
    m_wake.notify_all();
    m_thread.join();
}

KeyringService::State KeyringService::state() const
{
    std::lock_guard lock{m_mutex};
    return m_state;
}

KeyringService::State KeyringService::waitForProbe(int timeoutMs)
{
    std::unique_lock lock{m_mutex};
    m_answered.wait_for(
        lock, std::chrono::milliseconds(timeoutMs), [this] { return m_state != State::Probing; });
    return m_state;
}

void KeyringService::setUsedForFiles(bool used)
{
    std::lock_guard lock{m_mutex};
    m_usedForFiles = used;
}

bool KeyringService::isUsedForFiles() const
{
    std::lock_guard lock{m_mutex};
    return m_usedForFiles;
}

std::string KeyringService::fileUrl(std::string_view url)
{
    if (std::optional<UrlWithoutPassword> split = splitPassword(url)) {
        const std::string kept = filePassword(split->login, split->password);
        return kept.empty() && !split->password.empty() ? std::move(split->url) : std::string(url);
    }
    if (!urlLacksPassword(url))
        return std::string(url);
    const std::optional<KeyringLogin> login = keyringLoginOf(url);
    std::unique_lock lock{m_mutex};
    if (m_usedForFiles || m_state != State::Available)
        return std::string(url);
    if (const auto held = m_held.find(*login); held != m_held.end())
        return urlWithPassword(url, held->second);
    lock.unlock();
    prefetch(*login);
    return std::string(url);
}

std::string KeyringService::filePassword(
    const std::optional<KeyringLogin> &login, const std::string &password)
{
    if (!login)
        return password;
    std::unique_lock lock{m_mutex};
    if (password.empty()) {
        // A site loaded without its password, which the keyring keeps: back into the file when the user
        // keeps passwords in files (once the keyring has told it).
        if (m_usedForFiles || m_state != State::Available)
            return password;
        if (const auto held = m_held.find(*login); held != m_held.end())
            return held->second;
        lock.unlock();
        prefetch(*login);
        return password;
    }
    if (m_state != State::Available || !m_usedForFiles)
        return password;
    if (const auto held = m_held.find(*login); held != m_held.end() && held->second == password)
        return {};
    if (const auto sending = m_sending.find(*login);
        sending != m_sending.end() && sending->second == password)
        return password;
    lock.unlock();
    // Into the keyring first; the file loses the password at a save after the keyring took it.
    send({Task::Store, *login, password});
    return password;
}

bool KeyringService::usedByAnyHolder(const KeyringLogin &login) const
{
    for (const auto &[holder, logins] : m_inUse) {
        if (logins.contains(login))
            return true;
    }
    return false;
}

void KeyringService::setInUse(Holder holder, std::set<KeyringLogin> logins)
{
    std::vector<KeyringLogin> unused;
    {
        std::lock_guard lock{m_mutex};
        std::set<KeyringLogin> before = std::exchange(m_inUse[holder], std::move(logins));
        // Without every holder's logins, an entry that looks unused may be another's.
        if (m_inUse.size() < 2 || m_state != State::Available || !m_usedForFiles)
            return;
        for (const KeyringLogin &login : before) {
            if (!usedByAnyHolder(login))
                unused.push_back(login);
        }
    }
    for (KeyringLogin &login : unused)
        send({Task::Remove, std::move(login), {}});
}

void KeyringService::forget(const KeyringLogin &login)
{
    {
        std::lock_guard lock{m_mutex};
        if (m_state != State::Available || usedByAnyHolder(login))
            return;
    }
    send({Task::Remove, login, {}});
}

std::optional<std::string> KeyringService::lookup(
    const KeyringLogin &login, const std::function<bool()> &stopped, const std::function<void()> &onWaiting)
{
    std::unique_lock lock{m_mutex};
    const auto known = [&]() -> bool {
        return m_state == State::Missing || m_held.contains(login) || m_absent.contains(login);
    };
    bool asked = false;
    bool toldWaiting = false;
    for (int waits = 0; !known(); ++waits) {
        if (!asked && m_state == State::Available) {
            asked = true;
            m_requests.push_back({Task::Find, login, {}});
            m_wake.notify_one();
        }
        if (stopped && stopped())
            return std::nullopt;
        if (waits >= 3 && onWaiting && !toldWaiting) {
            toldWaiting = true;
            lock.unlock();
            onWaiting();
            lock.lock();
            continue;
        }
        m_answered.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (const auto held = m_held.find(login); held != m_held.end())
        return held->second;
    return std::nullopt;
}

void KeyringService::prefetch(const KeyringLogin &login)
{
    {
        std::lock_guard lock{m_mutex};
        if (m_state != State::Available || m_held.contains(login) || m_absent.contains(login))
            return;
        for (const Request &queued : m_requests) {
            if (queued.task == Task::Find && queued.login == login)
                return;
        }
    }
    send({Task::Find, login, {}});
}

void KeyringService::send(Request request)
{
    {
        std::lock_guard lock{m_mutex};
        if (request.task == Task::Store)
            m_sending[request.login] = request.password;
        m_requests.push_back(std::move(request));
    }
    m_wake.notify_one();
}

bool KeyringService::waitUntilIdle(int timeoutMs)
{
    std::unique_lock lock{m_mutex};
    return m_answered.wait_for(lock, std::chrono::milliseconds(timeoutMs),
        [this] { return m_state != State::Probing && m_requests.empty() && !m_busy; });
}

void KeyringService::setChangeListener(std::function<void()> listener)
{
    std::lock_guard lock{m_listenerMutex};
    m_changed = std::move(listener);
}

void KeyringService::tellChanged()
{
    std::lock_guard lock{m_listenerMutex};
    if (m_changed)
        m_changed();
}

std::string KeyringService::lastError() const
{
    std::lock_guard lock{m_mutex};
    return m_lastError;
}

void KeyringService::run(std::stop_token stop, int probeTimeoutMs)
{
    const bool reachable = secretServiceReachable(probeTimeoutMs);
    {
        std::lock_guard lock{m_mutex};
        m_state = reachable ? State::Available : State::Missing;
        if (!reachable)
            m_requests.clear();
    }
    m_answered.notify_all();
    tellChanged();
    while (!stop.stop_requested()) {
        Request request;
        {
            std::unique_lock lock{m_mutex};
            m_wake.wait(lock, stop, [this] { return !m_requests.empty(); });
            if (stop.stop_requested())
                break;
            request = std::move(m_requests.front());
            m_requests.pop_front();
            m_busy = true;
        }
        carryOut(request);
        {
            std::lock_guard lock{m_mutex};
            m_busy = false;
        }
        m_answered.notify_all();
        if (request.task != Task::Remove)
            tellChanged();
    }
}

void KeyringService::carryOut(const Request &request)
{
    // The keyring is called without the lock: its unlock prompt may take as long as the user likes.
    bool ok = false;
    Keyring::Lookup found;
    switch (request.task) {
    case Task::Store:
        ok = m_keyring.store(request.login, request.password);
        break;
    case Task::Find:
        found = m_keyring.find(request.login);
        ok = !found.failed;
        break;
    case Task::Remove:
        ok = m_keyring.remove(request.login);
        break;
    }
    std::lock_guard lock{m_mutex};
    if (!ok)
        m_lastError = m_keyring.lastError();
    switch (request.task) {
    case Task::Store:
        if (const auto sending = m_sending.find(request.login);
            sending != m_sending.end() && sending->second == request.password)
            m_sending.erase(sending);
        if (ok) {
            m_held[request.login] = request.password;
            m_absent.erase(request.login);
        }
        break;
    case Task::Find:
        if (found.password)
            m_held[request.login] = *found.password;
        else
            m_absent.insert(request.login); // a failed look-up too: the item goes on as without one
        break;
    case Task::Remove:
        if (ok) {
            m_held.erase(request.login);
            m_absent.insert(request.login);
        }
        break;
    }
}

} // namespace bw::engine

// SPDX-License-Identifier: MIT
// The queue's side of the keyring: which logins a queue uses, sending its passwords before a save, and
// a worker's look-up of the password a queued URL leaves out. Called from any thread.
#pragma once

#include <functional>
#include <set>
#include <string>

#include "core/queue_list.h"
#include "engine/keyring_login.h"

namespace bw::engine {

class KeyringService;

inline constexpr const char *kWaitingForKeyring = "Waiting for keyring";

// The logins of the items a save keeps.
std::set<KeyringLogin> queueLogins(const core::SavedItems &saved);

// Sends the queue's passwords to the keyring and waits at most `timeoutMs` for it to take them, so the
// save that follows leaves them out (a program about to exit saves only once).
void sendQueuePasswords(core::QueueList &queue, KeyringService &keyring, int timeoutMs);

// The password for the chosen item: its own, or, when its URL leaves it out, the keyring's. While the
// keyring waits (its unlock prompt is open) the item says "Waiting for keyring"; `stopped` ends the wait.
std::string selectionPassword(KeyringService *keyring, core::QueueList &queue,
    const core::Selection &selection, const std::function<bool()> &stopped);

} // namespace bw::engine

// SPDX-License-Identifier: MIT
#include "engine/keyring_queue.h"

#include <string_view>

#include "engine/keyring_service.h"

namespace bw::engine {

namespace {

// Calls `use` with each URL the save keeps.
template <typename Use>
void forEachUrl(const core::SavedItems &saved, Use use)
{
    std::string_view texts = saved.texts;
    for (const core::SavedItems::Item &item : saved.items) {
        use(texts.substr(0, item.urlSize));
        texts.remove_prefix(item.urlSize + item.localPathSize);
    }
}

} // namespace

std::set<KeyringLogin> queueLogins(const core::SavedItems &saved)
{
    std::set<KeyringLogin> logins;
    forEachUrl(saved, [&logins](std::string_view url) {
        if (std::optional<KeyringLogin> login = keyringLoginOf(url))
            logins.insert(std::move(*login));
    });
    return logins;
}

void sendQueuePasswords(core::QueueList &queue, KeyringService &keyring, int timeoutMs)
{
    forEachUrl(queue.savedItems(), [&keyring](std::string_view url) { keyring.fileUrl(url); });
    keyring.waitUntilIdle(timeoutMs);
}

std::string selectionPassword(KeyringService *keyring, core::QueueList &queue,
    const core::Selection &selection, const std::function<bool()> &stopped)
{
    const std::optional<core::QueueItem> item = queue.snapshot(selection.id);
    if (!keyring || !item || !urlLacksPassword(item->url))
        return selection.password;
    bool toldWaiting = false;
    const std::optional<std::string> password = keyring->lookup(*keyringLoginOf(item->url), stopped, [&] {
        toldWaiting = true;
        queue.setStatusDetail(selection.id, kWaitingForKeyring);
    });
    if (toldWaiting)
        queue.setStatusDetail(selection.id, "");
    return password.value_or(selection.password);
}

} // namespace bw::engine

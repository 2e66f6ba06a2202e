// SPDX-License-Identifier: MIT
#include "engine/key_passphrases.h"

#include <string_view>

namespace bw::engine {

std::string keyPathOfPassphraseDetail(const std::string &detail)
{
    const std::string_view prefix = kKeyPassphrasePrefix;
    const std::string_view suffix = kKeyPassphraseSuffix;
    if (detail.size() <= prefix.size() + suffix.size() || !detail.starts_with(prefix)
        || !detail.ends_with(suffix))
        return {};
    return detail.substr(prefix.size(), detail.size() - prefix.size() - suffix.size());
}

void KeyPassphrases::set(const std::string &keyPath, const std::string &passphrase)
{
    std::lock_guard lock{m_mutex};
    m_passphrases[keyPath] = passphrase;
}

std::optional<std::string> KeyPassphrases::find(const std::string &keyPath) const
{
    std::lock_guard lock{m_mutex};
    const auto found = m_passphrases.find(keyPath);
    if (found == m_passphrases.end())
        return std::nullopt;
    return found->second;
}

void KeyPassphrases::forget(const std::string &keyPath)
{
    std::lock_guard lock{m_mutex};
    m_passphrases.erase(keyPath);
}

} // namespace bw::engine

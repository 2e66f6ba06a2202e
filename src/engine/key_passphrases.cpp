// SPDX-License-Identifier: MIT
#include "engine/key_passphrases.h"

#include <string_view>

namespace bw::engine {

std::string keyPathOfPassphraseDetail(const std::string &detail)
{
    // "Key <path> needs its passphrase", and what a runner adds after it (": add it to ssh-agent").
    const std::string_view prefix = kKeyPassphrasePrefix;
    const std::size_t suffix = detail.rfind(kKeyPassphraseSuffix);
    if (!detail.starts_with(prefix) || suffix == std::string::npos || suffix <= prefix.size())
        return {};
    const std::size_t end = suffix + std::string_view(kKeyPassphraseSuffix).size();
    if (end != detail.size() && detail[end] != ':')
        return {};
    return detail.substr(prefix.size(), suffix - prefix.size());
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

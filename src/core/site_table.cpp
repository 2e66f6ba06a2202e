// SPDX-License-Identifier: MIT
#include "core/site_table.h"

#include <functional>

namespace bw::core {

std::size_t SiteTable::KeyHash::operator()(const Key &key) const
{
    const std::hash<std::string_view> hash;
    return hash(key.host) ^ (hash(key.user) * 31)
        ^ (static_cast<std::size_t>(key.port) * 0x9E3779B97F4A7C15ULL);
}

std::uint32_t SiteTable::number(std::string_view host, std::int32_t port, std::string_view user)
{
    const auto next = static_cast<std::uint32_t>(m_numbers.size());
    return m_numbers.try_emplace(Key{std::string(host), std::string(user), port}, next).first->second;
}

std::optional<std::uint32_t> SiteTable::find(
    std::string_view host, std::int32_t port, std::string_view user) const
{
    const auto it = m_numbers.find(Key{std::string(host), std::string(user), port});
    if (it == m_numbers.end())
        return std::nullopt;
    return it->second;
}

} // namespace bw::core

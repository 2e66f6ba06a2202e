// SPDX-License-Identifier: MIT
// Numbers for the sites of the queue (host, port and user, compared exactly), so that the selection can
// tell an item's site by comparing one number instead of three fields. Used by the QueueList under its
// lock; not thread-safe by itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace bw::core {

class SiteTable
{
public:
    // The site's number, made the first time a site is seen. Numbers run from 0 without gaps.
    std::uint32_t number(std::string_view host, std::int32_t port, std::string_view user);
    // The number of a site already seen.
    std::optional<std::uint32_t> find(std::string_view host, std::int32_t port, std::string_view user) const;

    std::size_t size() const { return m_numbers.size(); }

    void clear() { m_numbers.clear(); }

private:
    struct Key
    {
        std::string host;
        std::string user;
        std::int32_t port = 0;

        bool operator==(const Key &) const = default;
    };

    struct KeyHash
    {
        std::size_t operator()(const Key &key) const;
    };

    std::unordered_map<Key, std::uint32_t, KeyHash> m_numbers;
};

} // namespace bw::core

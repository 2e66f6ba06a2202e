// SPDX-License-Identifier: MIT
#include "core/selection_index.h"

#include <algorithm>

namespace bw::core {

namespace {

std::uint64_t takeKey(std::uint32_t site, TakeKind kind)
{
    return std::uint64_t{site} * kTakeKinds + static_cast<std::uint64_t>(kind);
}

} // namespace

bool SelectionIndex::Site::hasWork() const
{
    return std::any_of(first.begin(), first.end(), [](std::uint64_t order) { return order != kNoItem; });
}

SelectionIndex::Site &SelectionIndex::site(std::uint32_t number)
{
    if (number >= m_sites.size())
        m_sites.resize(std::size_t{number} + 1);
    return m_sites[number];
}

void SelectionIndex::add(const ItemFacts &facts)
{
    Site &site = this->site(facts.site);
    site.running += facts.inProgress ? 1 : 0;
    if (facts.kind != TakeKind::None) {
        m_takeable.emplace(takeKey(facts.site, facts.kind), facts.order);
        std::uint64_t &first = site.first[static_cast<std::size_t>(facts.kind)];
        first = std::min(first, facts.order);
    }
    if (facts.rests) {
        ++m_restEnds[{facts.site, facts.restEnd}];
        if (!site.rests || facts.restEnd > site.latestRestEnd) {
            site.rests = true;
            site.latestRestEnd = facts.restEnd;
        }
    }
}

void SelectionIndex::remove(const ItemFacts &facts)
{
    Site &site = this->site(facts.site);
    site.running -= facts.inProgress ? 1 : 0;
    if (facts.kind != TakeKind::None) {
        const std::uint64_t key = takeKey(facts.site, facts.kind);
        m_takeable.erase({key, facts.order});
        std::uint64_t &first = site.first[static_cast<std::size_t>(facts.kind)];
        if (first == facts.order) {
            const auto next = m_takeable.lower_bound({key, facts.order});
            first = next != m_takeable.end() && next->first == key ? next->second : kNoItem;
        }
    }
    if (facts.rests) {
        const auto it = m_restEnds.find({facts.site, facts.restEnd});
        if (it == m_restEnds.end() || --it->second > 0)
            return;
        m_restEnds.erase(it);
        if (facts.restEnd != site.latestRestEnd)
            return;
        // The latest one went: the site's latest is now the largest that is left.
        auto after = m_restEnds.upper_bound({facts.site, std::numeric_limits<std::int64_t>::max()});
        site.rests = after != m_restEnds.begin() && (--after)->first.first == facts.site;
        site.latestRestEnd = site.rests ? after->first.second : 0;
    }
}

void SelectionIndex::clear()
{
    m_sites.clear();
    m_takeable.clear();
    m_restEnds.clear();
}

std::int64_t restEndOf(std::int64_t statusTime, std::int32_t retryTime)
{
    std::int64_t end = 0;
    if (__builtin_add_overflow(statusTime, std::int64_t{retryTime}, &end))
        return retryTime < 0 ? std::numeric_limits<std::int64_t>::min()
                             : std::numeric_limits<std::int64_t>::max();
    return end;
}

} // namespace bw::core

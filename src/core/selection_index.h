// SPDX-License-Identifier: MIT
// What the selection knows about every site of the queue, kept up to date as items change, so that a
// worker looking for a new site reads a few figures per site instead of walking every item. Used by the
// QueueList under its lock; not thread-safe by itself.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace bw::core {

// How a worker may take an item, if at all: the three kinds the selection's walks tell apart.
enum class TakeKind : std::uint8_t
{
    Manual, // a manual-connection request
    Ordinary, // anything else that is not parked for a manual reconnect
    Reconnect, // parked with "Manually reconnect after transfers"
    None, // not to be taken now (in progress, done, a bad URL, tried often enough, ...)
};

inline constexpr std::size_t kTakeKinds = 3;

// What the index keeps of one item: all the selection reads of it.
struct ItemFacts
{
    // Items before it in the list have smaller order keys; a moved item gets a new, larger one.
    std::uint64_t order = 0;
    std::uint32_t site = 0;
    bool inProgress = false;
    TakeKind kind = TakeKind::None;
    // Status time plus retry time (the last second of its rest), when the item has a status time.
    bool rests = false;
    std::int64_t restEnd = 0;

    bool operator==(const ItemFacts &) const = default;
};

class SelectionIndex
{
public:
    static constexpr std::uint64_t kNoItem = std::numeric_limits<std::uint64_t>::max();

    struct Site
    {
        std::int32_t running = 0; // items in progress
        // The latest rest end of its items; the site has rested once the clock is past it.
        bool rests = false;
        std::int64_t latestRestEnd = 0;
        // The order key of the first item of each kind, kNoItem for none.
        std::array<std::uint64_t, kTakeKinds> first{kNoItem, kNoItem, kNoItem};

        bool hasWork() const;

        // Every item of the site rested longer than its own retry time at second `now`.
        bool rested(std::int64_t now) const { return !rests || latestRestEnd < now; }
    };

    void add(const ItemFacts &facts);
    // `facts` must be what was added for the item.
    void remove(const ItemFacts &facts);
    void clear();

    // Indexed by site number; a site number the index never saw has no items.
    const std::vector<Site> &sites() const { return m_sites; }

private:
    Site &site(std::uint32_t number);

    std::vector<Site> m_sites;
    // (site * kTakeKinds + kind, order key) of every item that may be taken, in list order per site and
    // kind: gives the next first item when the first one goes.
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_takeable;
    // (site, rest end) -> how many items end their rest then: gives the next latest rest end.
    std::map<std::pair<std::uint32_t, std::int64_t>, std::int32_t> m_restEnds;
};

// Status time plus retry time, saturated instead of overflowing.
std::int64_t restEndOf(std::int64_t statusTime, std::int32_t retryTime);

} // namespace bw::core

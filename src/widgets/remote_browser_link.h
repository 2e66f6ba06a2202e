// SPDX-License-Identifier: MIT
// What the queue view and the main frame need from the remote browser pane: whether it holds a lent
// connection, which item that is, its current folder, and taking over or giving back an item's
// connection. The remote browser implements it; until it exists the window runs without one.
#pragma once

#include <cstdint>

#include <QString>

namespace bw::widgets {

class RemoteBrowserLink
{
public:
    virtual ~RemoteBrowserLink() = default;

    virtual bool isConnected() const = 0;
    // The queue item whose connection the browser holds, or 0.
    virtual std::int32_t itemId() const = 0;
    // The remote folder being browsed.
    virtual QString currentDirectory() const = 0;
    virtual bool hasSelection() const = 0;
    // Takes over the connection lent to `itemId`.
    virtual void takeOver(std::int32_t itemId) = 0;
    // Gives the connection back; temporary leaves the item waiting for a reconnect.
    virtual void disconnect(bool temporary) = 0;
    virtual void makeFolder() = 0;
    virtual void deleteSelection() = 0;
};

} // namespace bw::widgets

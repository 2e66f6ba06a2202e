// SPDX-License-Identifier: MIT
// A logged-in conversation with a file server, as the manual browser and the transfer jobs see it: the
// folder operations, listings, file transfers with progress, and a stop that any thread may ask for.
// One thread drives a session at a time; requestStop may come from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/checksum.h"
#include "net/connection_notification.h"
#include "net/error_code.h"
#include "net/listing_parser.h"
#include "net/proxy_route.h"
#include "net/transfer_progress.h"

namespace bw::net {

class SpeedLimits;
class StreamDigest;

// How a server tells a file's checksum: the algorithm and the command ("HASH", "XSHA256", ...).
struct ServerChecksumOffer
{
    core::ChecksumAlgorithm algorithm = core::ChecksumAlgorithm::None;
    std::string command;
    bool ranges = false; // it can hash a byte range (HASH with RANG)
};

// Where a session logs in. Protocol knobs (passive mode, TLS) belong to the implementation's options.
struct RemoteSite
{
    std::string host;
    int port = 21;
    std::string user;
    std::string password;
    int connectionId = 0;
    ProxyRoute proxy{}; // every connection of the session goes through it (kind None: straight)
};

// What a transfer job sets on its session for each item, before the item's first step.
struct SessionItemSettings
{
    int connectionId = 0; // names the item in the log lines
    int timeoutSeconds = 30; // how long any wait may see nothing happen
    // Where the protocol opens a separate connection for data: the client opens it, rather than the
    // server connecting back. Protocols without one ignore it.
    bool clientOpensData = true;
    SpeedLimits *speedLimits = nullptr; // the limits all transfers share; borrowed, null for none
    int minSpeedGraceSeconds = 30; // how long a transfer may stay below the minimum speed
};

class RemoteSession
{
public:
    virtual ~RemoteSession() = default;

    // Connects and logs in, after closing whatever was open. A stop request stays (only clearStop
    // takes it back), so one that came just before the login ends the login too.
    virtual bool connect(const RemoteSite &site) = 0;
    virtual bool isLoggedIn() const = 0;
    // Before a kept login is used again: true when the server ended it while it was idle (what the
    // server said meanwhile is read), so the owner logs in afresh.
    virtual bool isDroppedByServer() = 0;
    virtual void applyItemSettings(const SessionItemSettings &settings) = 0;

    virtual bool currentFolder(std::string &path) = 0;
    // A full listing of `path` ("" for the current folder); each entry says whether the listing told
    // what it is (ListingEntry::typeKnown) and whether it is a link.
    virtual bool list(const std::string &path, std::vector<ListingEntry> &entries) = 0;
    virtual bool changeFolder(const std::string &path) = 0;
    virtual bool makeFolder(const std::string &name) = 0;
    virtual bool removeFile(const std::string &name) = 0;
    virtual bool removeFolder(const std::string &name) = 0;
    virtual bool rename(const std::string &from, const std::string &to) = 0;
    virtual bool fileSize(const std::string &name, std::int64_t &sizeBytes) = 0;

    // The file's modification time in seconds since 1970, where the server tells it cheaply. False when
    // it cannot tell; a failure it recorded is the caller's to clear.
    virtual bool modificationTime(const std::string & /*name*/, std::int64_t & /*unixSeconds*/)
    {
        return false;
    }

    // Downloads `remoteName` into `localPath`; `resume` continues after the bytes the local file holds.
    // `knownSizeBytes` is the listed size (0 when unknown).
    virtual bool get(const std::string &remoteName, const std::string &localPath, std::int64_t knownSizeBytes,
        bool resume, const TransferProgress &progress) = 0;
    // Uploads `localPath` as `remoteName`, the whole file.
    virtual bool put(
        const std::string &localPath, const std::string &remoteName, const TransferProgress &progress) = 0;

    // Checksums, for protocols whose servers offer them (none by default). What this login's server
    // offers; asks the server once per login where the protocol must ask.
    virtual std::optional<ServerChecksumOffer> checksumOffer() { return std::nullopt; }

    // The server's checksum of `name`'s bytes [firstByte, endByte) (endByte -1: the whole file); false
    // when it gives none. A refusal is no failure of the session.
    virtual bool serverChecksum(const std::string & /*name*/, std::int64_t /*firstByte*/,
        std::int64_t /*endByte*/, core::Checksum & /*checksum*/)
    {
        return false;
    }

    // The next gets feed every byte of their file (a resumed part included) to `digest` (borrowed, null
    // for none); false when the protocol cannot, so the owner knows the digest saw nothing.
    virtual bool setDownloadDigest(StreamDigest * /*digest*/) { return false; }

    // After a failed get: the server refused the file while the login stays up, as a site does that
    // wants an upload before it gives downloads. Only protocols with such sites ever say so.
    virtual bool isGetRefusedUntilUpload() const { return false; }

    // Safe from any thread: the running operation ends soon with a stop error, and so does every
    // later one until clearStop (the request is sticky).
    virtual void requestStop(int code) = 0;
    virtual bool isStopRequested() const = 0;
    // Takes back a stop request deliberately, so the session can be used again (the driving thread
    // decides; a stop that comes after this call stays).
    virtual void clearStop() = 0;
    // Safe from any thread: stops the running transfer alone; the login stays usable.
    virtual void stopTransfer(int code) = 0;

    virtual ErrorCode error() const = 0;
    // Forgets a failure, but never a stop request; false when one is pending.
    virtual bool clearErrorUnlessStopped() = 0;

    // Protocol traffic and status lines, on the thread that drives the session; null for none.
    virtual void setObserver(ConnectionObserver observer, void *context) = 0;

    // Leaves the server politely when logged in (`reason` is logged with it), then closes.
    virtual void disconnect(int reason) = 0;
    virtual void close() = 0;
};

} // namespace bw::net

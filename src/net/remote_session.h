// SPDX-License-Identifier: MIT
// A logged-in conversation with a file server, as the manual browser and the transfer jobs see it: the
// folder operations, listings, file transfers with progress, and a stop that any thread may ask for.
// One thread drives a session at a time; requestStop may come from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/connection_notification.h"
#include "net/error_code.h"
#include "net/listing_parser.h"
#include "net/transfer_progress.h"

namespace bw::net {

// Where a session logs in. Protocol knobs (passive mode, TLS) belong to the implementation's options.
struct RemoteSite
{
    std::string host;
    int port = 21;
    std::string user;
    std::string password;
    int connectionId = 0;
};

class RemoteSession
{
public:
    virtual ~RemoteSession() = default;

    // Connects and logs in, after closing whatever was open; a new login clears a stop request.
    virtual bool connect(const RemoteSite &site) = 0;
    virtual bool isLoggedIn() const = 0;

    virtual bool currentFolder(std::string &path) = 0;
    // A full listing of `path` ("" for the current folder).
    virtual bool list(const std::string &path, std::vector<ListingEntry> &entries) = 0;
    virtual bool changeFolder(const std::string &path) = 0;
    virtual bool makeFolder(const std::string &name) = 0;
    virtual bool removeFile(const std::string &name) = 0;
    virtual bool removeFolder(const std::string &name) = 0;
    virtual bool rename(const std::string &from, const std::string &to) = 0;
    virtual bool fileSize(const std::string &name, std::int64_t &sizeBytes) = 0;

    // Downloads `remoteName` into `localPath`; `resume` continues after the bytes the local file holds.
    // `knownSizeBytes` is the listed size (0 when unknown).
    virtual bool get(const std::string &remoteName, const std::string &localPath, std::int64_t knownSizeBytes,
        bool resume, const TransferProgress &progress) = 0;
    // Uploads `localPath` as `remoteName`, the whole file.
    virtual bool put(
        const std::string &localPath, const std::string &remoteName, const TransferProgress &progress) = 0;

    // Safe from any thread: the running operation ends soon with a stop error, and so does every
    // later one until the next connect (the request is sticky).
    virtual void requestStop(int code) = 0;
    virtual bool isStopRequested() const = 0;
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

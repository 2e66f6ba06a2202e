// SPDX-License-Identifier: MIT
// Which remote session an item's URL needs, and a new one of that kind: the only place where the
// transfer jobs meet a concrete protocol. Pure functions, callable from any thread.
#pragma once

#include <memory>
#include <string>

#include "core/url.h"
#include "engine/key_passphrases.h"
#include "net/host_addresses.h"
#include "net/remote_session.h"
#include "net/tls_stream.h"

namespace bw::engine {

// The protocol of a session, and with it how its connections are protected. Two items share a login
// only when they have the same one.
enum class SessionProtocol
{
    None, // the scheme is not served by a remote session
    Ftp,
    FtpExplicitTls, // a plain greeting, then AUTH TLS
    FtpImplicitTls, // TLS from the first byte
    Sftp, // SSH's file transfer
};

// What a new session needs besides its protocol; the protocol takes what applies to it.
struct RemoteSessionOptions
{
    net::TlsOptions tls; // the certificate rules of a protocol that speaks TLS
    net::HostResolver resolver = nullptr; // replaces the name look-up in tests; null for the system's
    std::string trustedHostKey; // SSH: the one unknown host key ("SHA256:...") accepted for this run
    // SSH: the key passphrases the user typed this run; borrowed, null when nobody can type one.
    const KeyPassphrases *passphrases = nullptr;
};

// The download and the upload form of a scheme give the same protocol.
SessionProtocol sessionProtocolOf(core::UrlScheme scheme);
// A new session, not connected yet; null for SessionProtocol::None.
std::shared_ptr<net::RemoteSession> makeRemoteSession(
    SessionProtocol protocol, const RemoteSessionOptions &options);

} // namespace bw::engine

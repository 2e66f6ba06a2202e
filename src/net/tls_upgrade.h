// SPDX-License-Identifier: MIT
// Puts a connected SocketConnection under TLS: the handshake and certificate check, then the layer is
// installed. Shared by HTTPS and both FTP forms. Called on the connection's owner thread.
#pragma once

#include "net/socket_connection.h"
#include "net/tls_stream.h"

namespace bw::net {

// What the owner knows about the peer's certificate after an upgrade (also after a refused one).
struct TlsOutcome
{
    CertificateInfo certificate;
    bool rejected = false;
    bool kernelSend = false;
    bool sessionReused = false;
};

// True when the stream is encrypted and the certificate accepted. Otherwise the record holds
// CertificateRejected or TlsFailed with the reason as its detail ("Certificate verification failed:
// self-signed certificate"), or the stop request that ended the wait.
bool upgradeToTls(
    SocketConnection &socket, TlsOptions options, int timeoutSeconds, TlsOutcome *outcome = nullptr);

// The control connection's session, for a data connection to resume; null when it is not TLS.
TlsSession sessionOf(SocketConnection &socket);

} // namespace bw::net

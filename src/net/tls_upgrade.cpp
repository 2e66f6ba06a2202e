// SPDX-License-Identifier: MIT
#include "net/tls_upgrade.h"

#include <memory>

namespace bw::net {

bool upgradeToTls(SocketConnection &socket, TlsOptions options, int timeoutSeconds, TlsOutcome *outcome)
{
    auto layer = std::make_unique<TlsStream>(socket.tcpStream(), std::move(options));
    const bool ok = layer->handshake(timeoutSeconds > 0 ? timeoutSeconds * 1000 : 30000);
    if (outcome) {
        outcome->certificate = layer->peerCertificate();
        outcome->rejected = layer->isCertificateRejected();
        outcome->kernelSend = ok && layer->isKernelSend();
        outcome->sessionReused = ok && layer->isSessionReused();
    }
    if (ok) {
        socket.setStreamLayer(std::move(layer));
        return true;
    }
    if (layer->wasStopped() || socket.isStopRequested())
        return socket.recordStop();
    socket.setError(CatProtocol, layer->isCertificateRejected() ? CertificateRejected : TlsFailed);
    socket.setErrorDetail(layer->failureText());
    return false;
}

TlsSession sessionOf(SocketConnection &socket)
{
    auto *tls = dynamic_cast<TlsStream *>(&socket.stream());
    return tls ? tls->session() : TlsSession{};
}

} // namespace bw::net

// SPDX-License-Identifier: MIT
#include "engine/remote_session_factory.h"

#include "net/ftp_session.h"
#include "net/sftp_session.h"

namespace bw::engine {

namespace {

std::shared_ptr<net::RemoteSession> makeFtpSession(
    net::FtpSecurity security, const RemoteSessionOptions &options)
{
    net::FtpSessionOptions ftp;
    ftp.security = security;
    ftp.tls = options.tls;
    ftp.resolver = options.resolver;
    return std::make_shared<net::FtpSession>(std::make_shared<net::FtpConnection>(), ftp);
}

std::shared_ptr<net::RemoteSession> makeSftpSession(const RemoteSessionOptions &options)
{
    net::SftpSessionOptions sftp;
    sftp.trustedHostKey = options.trustedHostKey;
    sftp.resolver = options.resolver;
    // A worker never asks anyone: a key opens only with a passphrase the user gave the window before.
    if (const KeyPassphrases *typed = options.passphrases)
        sftp.passphrase = [typed](const std::string &keyPath) {
            return typed->find(keyPath);
        };
    return std::make_shared<net::SftpSession>(sftp);
}

} // namespace

SessionProtocol sessionProtocolOf(core::UrlScheme scheme)
{
    switch (scheme) {
    case core::SchemeFtp:
    case core::SchemeFtpUpload:
        return SessionProtocol::Ftp;
    case core::SchemeFtpes:
    case core::SchemeFtpesUpload:
        return SessionProtocol::FtpExplicitTls;
    case core::SchemeFtps:
    case core::SchemeFtpsUpload:
        return SessionProtocol::FtpImplicitTls;
    case core::SchemeSftp:
    case core::SchemeSftpUpload:
        return SessionProtocol::Sftp;
    default:
        return SessionProtocol::None;
    }
}

std::shared_ptr<net::RemoteSession> makeRemoteSession(
    SessionProtocol protocol, const RemoteSessionOptions &options)
{
    switch (protocol) {
    case SessionProtocol::Ftp:
        return makeFtpSession(net::FtpSecurity::Plain, options);
    case SessionProtocol::FtpExplicitTls:
        return makeFtpSession(net::FtpSecurity::ExplicitTls, options);
    case SessionProtocol::FtpImplicitTls:
        return makeFtpSession(net::FtpSecurity::ImplicitTls, options);
    case SessionProtocol::Sftp:
        return makeSftpSession(options);
    case SessionProtocol::None:
        break;
    }
    return nullptr;
}

} // namespace bw::engine

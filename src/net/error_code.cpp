// SPDX-License-Identifier: MIT
#include "net/error_code.h"

namespace bw::net {

namespace {

bool isKnownSocketError(std::int32_t code)
{
    switch (code) {
    case 10004:
    case 10009:
    case 10013:
    case 10014:
    case 10022:
    case 10024:
    case 10091:
    case 10092:
    case 10093:
        return true;
    default:
        return (code >= 10035 && code <= 10071) || (code >= 10101 && code <= 10112);
    }
}

const char *localText(std::int32_t code)
{
    switch (code) {
    case TransferTooSlow:
        return "Transfer too slow";
    case SocketWriteError:
        return "Socket write error";
    case SocketReadError:
        return "Socket read error";
    case FileWriteError:
        return "File write error";
    case FileReadError:
        return "File read error";
    case FileOpenError:
        return "File open error";
    case FileCopyError:
        return "File copy error";
    default:
        return "Unknown";
    }
}

const char *protocolText(std::int32_t code)
{
    switch (code) {
    case UnexpectedResponse:
        return "Unexpected response code";
    case DataConnectionFailed:
        return "Data connection failed";
    case PermissionDenied:
        return "Permission denied";
    case MalformedResponse:
        return "Malformed response";
    case ConnectFailed:
        return "Connect failed";
    case ServerShutdown:
        return "Server shutdown";
    case ServerNotReady:
        return "Server not ready";
    case UsernameInvalid:
        return "Username Invalid";
    case PasswordInvalid:
        return "Password Invalid";
    case UrlRedirected:
        return "URL Redirected";
    case TlsFailed:
        return "TLS handshake failed";
    case CertificateRejected:
        return "Certificate verification failed";
    case ListingTooLarge:
        return "Listing too large";
    case ProxyConnectFailed:
        return "Proxy connection failed";
    case ProxyRefused:
        return "Proxy refused";
    case ActiveModeThroughProxy:
        return "Active mode cannot go through a proxy: use passive mode";
    default:
        return "Unknown";
    }
}

} // namespace

void ErrorCode::setSocketError(int socketErrorNumber)
{
    if (socketErrorNumber == 0 || socketErrorNumber == 10004)
        clear();
    else
        set(CatSocket, socketErrorNumber);
}

const char *ErrorCode::textFor(ErrorCategory category, std::int32_t code)
{
    switch (category) {
    case CatSocket:
        return isKnownSocketError(code) ? "Winsock Error: " : "Unknown";
    case CatLocal:
        return localText(code);
    case CatProtocol:
        return protocolText(code);
    case CatStop:
        return code == Exiting ? "Exiting" : "Unknown";
    default:
        return "Unknown";
    }
}

} // namespace bw::net

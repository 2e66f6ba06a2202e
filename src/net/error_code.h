// SPDX-License-Identifier: MIT
// The error record every connection carries: a (category, code) pair with an HTTP status and a detail
// text. A plain value, copied out of connections; the (category, code) pair selects the text.
#pragma once

#include <cstdint>
#include <string>

namespace bw::net {

// The family of a code; the numbers are stored in queue items and compared, so they stay as they are.
enum class ErrorCategory : std::uint32_t
{
    CatNone = 0,
    CatSocket = 256,
    CatLocal = 512,
    CatProtocol = 768,
    CatStop = 1024,
};
using enum ErrorCategory;

enum ErrorCodeValue : std::int32_t
{
    TransferTooSlow = 513,
    SocketWriteError = 514,
    SocketReadError = 515,
    FileWriteError = 516,
    FileReadError = 517,
    FileOpenError = 518,
    FileCopyError = 519,
    UnexpectedResponse = 769,
    DataConnectionFailed = 770,
    PermissionDenied = 771,
    MalformedResponse = 772,
    ConnectFailed = 773,
    ServerShutdown = 774,
    ServerNotReady = 775,
    UsernameInvalid = 776,
    PasswordInvalid = 777,
    UrlRedirected = 778,
    TlsFailed = 790, // the handshake failed; the detail says why
    CertificateRejected = 791, // the certificate did not verify; the detail names the reason
    ListingTooLarge = 792, // a listing went past its size bound
    ProxyConnectFailed = 793, // the proxy could not be reached; the detail says why
    ProxyRefused = 794, // the proxy said no (the login, a rule, the server behind it); the detail says why
    ActiveModeThroughProxy = 795, // the server cannot connect back through a proxy
    Exiting = 1025,
    DataIdleTimeout = 1026,
    StopByEngine = 15,
    StopByItem = 101,
};

class ErrorCode
{
public:
    ErrorCode() = default;

    ErrorCode(ErrorCategory category, std::int32_t code)
        : m_category(category)
        , m_code(code)
    {}

    // Category and code become 0; status and detail stay.
    void clear()
    {
        m_category = CatNone;
        m_code = 0;
    }

    void set(ErrorCategory category, std::int32_t code)
    {
        m_category = category;
        m_code = code;
    }

    // 0 and 10004 (an interrupted call) are not errors: they clear the record.
    void setSocketError(int socketErrorNumber);

    bool isSet() const { return m_category != CatNone; }

    bool isStop() const { return m_category == CatStop; }

    // The proxy failed: this record, not a plain connect failure, is what the user must see.
    bool isProxyFailure() const
    {
        return m_category == CatProtocol && (m_code == ProxyConnectFailed || m_code == ProxyRefused);
    }

    bool is(ErrorCategory category, std::int32_t code) const
    {
        return m_category == category && m_code == code;
    }

    ErrorCategory category() const { return m_category; }

    std::int32_t code() const { return m_code; }

    std::int32_t status() const { return m_status; }

    void setStatus(std::int32_t status) { m_status = status; }

    const std::string &detail() const { return m_detail; }

    void setDetail(std::string detail) { m_detail = std::move(detail); }

    const char *text() const { return textFor(m_category, m_code); }

    static const char *textFor(ErrorCategory category, std::int32_t code);

    bool operator==(const ErrorCode &) const = default;

private:
    ErrorCategory m_category = CatNone;
    std::int32_t m_code = 0;
    std::int32_t m_status = 0;
    std::string m_detail;
};

} // namespace bw::net

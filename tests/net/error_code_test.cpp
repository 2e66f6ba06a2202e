// SPDX-License-Identifier: MIT
#include <cerrno>

#include <gtest/gtest.h>

#include "net/error_code.h"
#include "platform/socket_errors.h"

namespace bw::net {
namespace {

TEST(ErrorCode, TextLookupByPair)
{
    struct Case
    {
        ErrorCategory category;
        std::int32_t code;
        const char *text;
    };

    const Case cases[] = {
        {CatNone, 0, "Unknown"},
        {CatSocket, 10054, "Winsock Error: "},
        {CatSocket, 10000, "Unknown"},
        {CatSocket, 10072, "Unknown"},
        {CatSocket, 10091, "Winsock Error: "},
        {CatSocket, 10112, "Winsock Error: "},
        {CatLocal, 513, "Transfer too slow"},
        {CatLocal, 519, "File copy error"},
        {CatLocal, 520, "Unknown"},
        {CatLocal, 769, "Unknown"},
        {CatProtocol, 769, "Unexpected response code"},
        {CatProtocol, 778, "URL Redirected"},
        {CatProtocol, 779, "Unknown"},
        {CatProtocol, 790, "TLS handshake failed"},
        {CatProtocol, 791, "Certificate verification failed"},
        {CatProtocol, 792, "Listing too large"},
        {CatProtocol, 513, "Unknown"},
        {CatStop, 1025, "Exiting"},
        {CatStop, 1026, "Unknown"},
        {CatStop, 15, "Unknown"},
        {CatStop, 101, "Unknown"},
        {ErrorCategory{99}, 1025, "Unknown"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(ErrorCode(c.category, c.code).text(), c.text)
            << static_cast<std::uint32_t>(c.category) << "," << c.code;
}

TEST(ErrorCode, SocketErrorRecordingAndClear)
{
    ErrorCode error;
    error.setStatus(404);
    error.setDetail("http://x/");
    error.setSocketError(10004);
    EXPECT_FALSE(error.isSet());
    error.setSocketError(10054);
    EXPECT_TRUE(error.is(CatSocket, 10054));
    error.clear();
    EXPECT_FALSE(error.isSet());
    EXPECT_EQ(error.status(), 404); // clearing keeps status and detail
    EXPECT_EQ(error.detail(), "http://x/");
    error.set(CatStop, StopByItem);
    EXPECT_TRUE(error.isStop());
}

TEST(ErrorCode, ErrnoTranslation)
{
    EXPECT_EQ(platform::socketErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(platform::socketErrorFromErrno(EPIPE), 10053);
    EXPECT_EQ(platform::socketErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(platform::socketErrorFromErrno(EINTR), 10004);
    EXPECT_STREQ(ErrorCode(CatSocket, platform::socketErrorFromErrno(EIO)).text(), "Unknown");
}

} // namespace
} // namespace bw::net

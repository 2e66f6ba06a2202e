// SPDX-License-Identifier: MIT
// How the body of an HTTP/1.1 response is delimited, decided from the status and the framing fields
// alone (RFC 9112 section 6.3). A pure function, callable from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bw::net {

// What the response header says about framing, as received.
struct HttpFramingFields
{
    int status = -1;
    bool headRequest = false; // the request was HEAD
    bool http10 = false; // the status line said HTTP/1.0
    std::vector<std::string> contentLengths; // each Content-Length field value
    std::vector<std::string> transferEncodings; // each Transfer-Encoding field value
};

struct HttpFraming
{
    enum class Kind
    {
        NoBody, // the header is the whole response
        Chunked, // chunks up to the last (0) chunk and the trailer
        Length, // exactly `length` bytes
        ToClose, // everything until the server closes
        Invalid, // the length cannot be known: the response must be dropped with its connection
    };

    Kind kind = Kind::ToClose;
    std::int64_t length = -1; // Kind::Length only
    // The connection may carry another request afterwards.
    bool reusable = false;

    bool operator==(const HttpFraming &) const = default;
};

// The framing of a response to a request the client sent (never a CONNECT).
HttpFraming httpFraming(const HttpFramingFields &fields);

// The length the Content-Length values give together: one valid number, repeated or listed any number
// of times. Empty when any value is no number, or two values differ.
std::optional<std::int64_t> contentLengthOf(const std::vector<std::string> &values);

// A 1xx status that announces the real response rather than being it (100, 103, ...); 101 would
// switch protocols, which Bellwick never asks for, so it is final.
bool isInterimStatus(int status);

} // namespace bw::net

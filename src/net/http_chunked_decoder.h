// SPDX-License-Identifier: MIT
// Undoes "Transfer-Encoding: chunked" on an HTTP body as it arrives, in place, so that only the file's
// bytes reach the file. No sockets here; the receive job feeds it block by block. One thread at a time.
#pragma once

#include <cstdint>

namespace bw::net {

class HttpChunkedDecoder
{
public:
    enum class Result
    {
        More, // the body goes on
        Done, // the last chunk and the trailer have arrived
        Malformed, // not a chunked body: the transfer must fail
    };

    // A chunk-size line (with extensions) or trailer line longer than this is refused, and so is a size
    // of more than 16 hexadecimal digits (leading zeros included) or above 2^56 bytes.
    static constexpr int kMaxLineBytes = 4096;

    void reset() { *this = HttpChunkedDecoder{}; }

    // Decodes `length` bytes at `data`; afterwards the first `length` bytes are body data. Bytes after
    // the end of the body are dropped.
    Result decode(char *data, std::int64_t &length);

    bool isDone() const { return m_state == State::Done; }

private:
    enum class State
    {
        Size,
        Extension,
        Data,
        DataEnd,
        Trailer,
        Done,
        Malformed
    };

    State m_state = State::Size;
    std::int64_t m_chunkLeft = 0; // bytes of the current chunk still to come
    int m_digits = 0; // hex digits of the size line so far, at most 16
    int m_lineBytes = 0; // bytes of the current size, extension or trailer line, at most kMaxLineBytes
};

} // namespace bw::net

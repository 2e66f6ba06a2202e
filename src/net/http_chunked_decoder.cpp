// SPDX-License-Identifier: MIT
#include "net/http_chunked_decoder.h"

#include <algorithm>
#include <cstring>

namespace bw::net {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Sizes above this cannot be a real chunk; refusing them keeps the arithmetic from overflowing.
constexpr std::int64_t kMaxChunkBytes = std::int64_t{1} << 56;
// Sixteen hexadecimal digits hold every size up to the limit above, with room for leading zeros.
constexpr int kMaxSizeDigits = 16;

} // namespace

HttpChunkedDecoder::Result HttpChunkedDecoder::decode(char *data, std::int64_t &length)
{
    std::int64_t in = 0;
    std::int64_t out = 0;
    while (in < length && m_state != State::Done && m_state != State::Malformed) {
        const char c = data[in];
        switch (m_state) {
        case State::Size:
            if (const int v = hexValue(c); v >= 0) {
                // Leading zeros count too: a size line of endless zeros is no chunk size.
                if (m_digits == kMaxSizeDigits || m_chunkLeft > (kMaxChunkBytes - v) / 16) {
                    m_state = State::Malformed;
                    break;
                }
                m_chunkLeft = m_chunkLeft * 16 + v;
                ++m_digits;
                ++m_lineBytes;
                ++in;
            } else if (m_digits > 0 && (c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
                m_state = State::Extension; // the line break is read there
            } else {
                m_state = State::Malformed;
            }
            break;
        case State::Extension:
            ++in;
            if (c == '\n') {
                m_digits = 0;
                m_lineBytes = 0;
                m_state = m_chunkLeft == 0 ? State::Trailer : State::Data;
            } else if (++m_lineBytes > kMaxLineBytes) {
                m_state = State::Malformed;
            }
            break;
        case State::Data: {
            const std::int64_t n = std::min(m_chunkLeft, length - in);
            std::memmove(data + out, data + in, static_cast<std::size_t>(n));
            out += n;
            in += n;
            m_chunkLeft -= n;
            if (m_chunkLeft == 0)
                m_state = State::DataEnd;
            break;
        }
        case State::DataEnd:
            // CR LF (or a bare LF) after the chunk's data.
            ++in;
            if (c == '\n')
                m_state = State::Size;
            else if (c != '\r')
                m_state = State::Malformed;
            break;
        case State::Trailer:
            // Trailer fields are skipped; an empty line ends the body.
            ++in;
            if (c == '\n') {
                m_state = m_lineBytes == 0 ? State::Done : State::Trailer;
                m_lineBytes = 0;
            } else if (c != '\r' && ++m_lineBytes > kMaxLineBytes) {
                m_state = State::Malformed;
            }
            break;
        case State::Done:
        case State::Malformed:
            break;
        }
    }
    length = out;
    if (m_state == State::Malformed)
        return Result::Malformed;
    return m_state == State::Done ? Result::Done : Result::More;
}

} // namespace bw::net

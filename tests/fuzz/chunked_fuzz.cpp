// SPDX-License-Identifier: MIT
// Chunked HTTP bodies: the decoded bytes and the outcome do not depend on how the body is split into
// reads, the output never grows, and a finished or refused body stays so.
#include <vector>

#include "fuzz_check.h"
#include "net/http_chunked_decoder.h"

namespace {

using bw::net::HttpChunkedDecoder;
using Result = HttpChunkedDecoder::Result;

Result decode(std::string_view encoded, std::size_t piece, std::string &body)
{
    HttpChunkedDecoder decoder;
    Result result = Result::More;
    body.clear();
    for (std::size_t at = 0; at < encoded.size(); at += piece) {
        std::string block(encoded.substr(at, piece));
        std::int64_t length = static_cast<std::int64_t>(block.size());
        const Result now = decoder.decode(block.data(), length);
        BW_FUZZ_CHECK(length >= 0 && static_cast<std::size_t>(length) <= block.size());
        if (result != Result::More) {
            BW_FUZZ_CHECK(now == result); // Done and Malformed are final
            BW_FUZZ_CHECK(length == 0);
        }
        result = now;
        BW_FUZZ_CHECK(decoder.isDone() == (result == Result::Done));
        body.append(block.data(), static_cast<std::size_t>(length));
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the size of the reads.
    const std::size_t piece = 1 + data[0] % 64;
    const std::string_view encoded = bw::fuzz::bytesOf(data + 1, size - 1);
    std::string whole;
    const Result result = decode(encoded, std::max<std::size_t>(encoded.size(), 1), whole);
    BW_FUZZ_CHECK(whole.size() <= encoded.size());
    std::string split;
    BW_FUZZ_CHECK(decode(encoded, piece, split) == result);
    BW_FUZZ_CHECK(split == whole);

    // What was decoded, sent again as one chunk, comes back unchanged.
    if (result == Result::Done && !whole.empty()) {
        char sizeLine[32];
        const int n = std::snprintf(sizeLine, sizeof sizeLine, "%zx\r\n", whole.size());
        const std::string again =
            std::string(sizeLine, static_cast<std::size_t>(n)) + whole + "\r\n0\r\n\r\n";
        std::string body;
        BW_FUZZ_CHECK(decode(again, piece, body) == Result::Done);
        BW_FUZZ_CHECK(body == whole);
    }
    return 0;
}

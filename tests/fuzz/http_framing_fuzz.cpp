// SPDX-License-Identifier: MIT
// The body framing decision: whatever the status and the framing fields say, the decision keeps the
// rules' order (no body first, then Transfer-Encoding, then Content-Length, then the close).
#include "fuzz_check.h"
#include "net/http_framing.h"

namespace {

using bw::net::HttpFraming;
using bw::net::HttpFramingFields;

// After two bytes of status and flags, each line is a field: "L..." a Content-Length value, "T..." a
// Transfer-Encoding value; other lines are ignored.
HttpFramingFields fieldsOf(const std::uint8_t *data, std::size_t size)
{
    HttpFramingFields fields;
    fields.status = 100 + data[0] % 250;
    fields.headRequest = (data[1] & 1) != 0;
    fields.http10 = (data[1] & 2) != 0;
    std::string_view rest = bw::fuzz::bytesOf(data + 2, size - 2);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        if (line.starts_with('L'))
            fields.contentLengths.emplace_back(line.substr(1));
        else if (line.starts_with('T'))
            fields.transferEncodings.emplace_back(line.substr(1));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const HttpFramingFields fields = fieldsOf(data, size);
    const HttpFraming framing = bw::net::httpFraming(fields);
    using Kind = HttpFraming::Kind;
    const bool noBody =
        fields.headRequest || fields.status < 200 || fields.status == 204 || fields.status == 304;
    BW_FUZZ_CHECK((framing.kind == Kind::NoBody) == noBody);
    BW_FUZZ_CHECK((framing.kind == Kind::Length) == (framing.length >= 0));
    if (noBody)
        return 0;
    if (!fields.transferEncodings.empty()) {
        // Transfer-Encoding decides: a length never applies then.
        BW_FUZZ_CHECK(framing.kind != Kind::Length);
        BW_FUZZ_CHECK(!framing.reusable || fields.contentLengths.empty());
    } else if (!fields.contentLengths.empty()) {
        const auto length = bw::net::contentLengthOf(fields.contentLengths);
        BW_FUZZ_CHECK(length ? framing.kind == Kind::Length && framing.length == *length
                             : framing.kind == Kind::Invalid);
    } else {
        BW_FUZZ_CHECK(framing.kind == Kind::ToClose);
    }
    BW_FUZZ_CHECK(!(framing.reusable && (framing.kind == Kind::ToClose || framing.kind == Kind::Invalid)));
    return 0;
}

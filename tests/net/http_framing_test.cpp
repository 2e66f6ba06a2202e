// SPDX-License-Identifier: MIT
// The body framing of HTTP/1.1 responses, rule by rule, as one table.
#include <gtest/gtest.h>

#include "net/http_framing.h"

namespace bw::net {
namespace {

using Kind = HttpFraming::Kind;

TEST(HttpFraming, DecidesTheBodyEndRuleByRule)
{
    struct Case
    {
        const char *name;
        HttpFramingFields fields;
        HttpFraming expected;
    };

    const Case cases[] = {
        {"HEAD response declares a length it does not send", {200, true, false, {"10"}, {}},
            {Kind::NoBody, -1, true}},
        {"100 Continue", {100, false, false, {}, {}}, {Kind::NoBody, -1, true}},
        {"101 is no interim response", {101, false, false, {}, {}}, {Kind::NoBody, -1, true}},
        {"103 Early Hints", {103, false, false, {"5"}, {}}, {Kind::NoBody, -1, true}},
        {"204 with a length", {204, false, false, {"10"}, {}}, {Kind::NoBody, -1, true}},
        {"304 with chunked", {304, false, false, {}, {"chunked"}}, {Kind::NoBody, -1, true}},
        {"chunked", {200, false, false, {}, {"chunked"}}, {Kind::Chunked, -1, true}},
        {"coding names ignore case", {200, false, false, {}, {"CHUNKED"}}, {Kind::Chunked, -1, true}},
        {"chunked last of a list", {200, false, false, {}, {"gzip, chunked"}}, {Kind::Chunked, -1, true}},
        {"chunked last over two fields", {200, false, false, {}, {"gzip", "chunked"}},
            {Kind::Chunked, -1, true}},
        {"chunked wins over a length, no reuse", {200, false, false, {"3"}, {"chunked"}},
            {Kind::Chunked, -1, false}},
        {"chunked not last reads to the close", {200, false, false, {"3"}, {"chunked, gzip"}},
            {Kind::ToClose, -1, false}},
        {"other coding reads to the close", {200, false, false, {"3"}, {"gzip"}}, {Kind::ToClose, -1, false}},
        {"a name that merely holds chunked", {200, false, false, {}, {"xchunked"}},
            {Kind::ToClose, -1, false}},
        {"chunked twice", {200, false, false, {}, {"chunked", "chunked"}}, {Kind::Invalid, -1, false}},
        {"Transfer-Encoding in HTTP/1.0", {200, false, true, {"3"}, {"chunked"}}, {Kind::Invalid, -1, false}},
        {"length", {200, false, false, {"42"}, {}}, {Kind::Length, 42, true}},
        {"zero length", {200, false, false, {"0"}, {}}, {Kind::Length, 0, true}},
        {"repeated equal fields", {200, false, false, {"42", "42"}, {}}, {Kind::Length, 42, true}},
        {"a list of equal values", {200, false, false, {"42 , 42,"}, {}}, {Kind::Length, 42, true}},
        {"fields that differ", {200, false, false, {"42", "43"}, {}}, {Kind::Invalid, -1, false}},
        {"a list that differs", {200, false, false, {"42, 7"}, {}}, {Kind::Invalid, -1, false}},
        {"signed", {200, false, false, {"+42"}, {}}, {Kind::Invalid, -1, false}},
        {"negative", {200, false, false, {"-1"}, {}}, {Kind::Invalid, -1, false}},
        {"trailing letters", {200, false, false, {"42abc"}, {}}, {Kind::Invalid, -1, false}},
        {"blank inside", {200, false, false, {"4 2"}, {}}, {Kind::Invalid, -1, false}},
        {"empty value", {200, false, false, {""}, {}}, {Kind::Invalid, -1, false}},
        {"past 63 bits", {200, false, false, {"99999999999999999999"}, {}}, {Kind::Invalid, -1, false}},
        {"neither field reads to the close", {200, false, false, {}, {}}, {Kind::ToClose, -1, false}},
        {"an error response is framed alike", {404, false, false, {"9"}, {}}, {Kind::Length, 9, true}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(httpFraming(c.fields), c.expected) << c.name;
}

} // namespace
} // namespace bw::net

// SPDX-License-Identifier: MIT
// HTTP dates (Last-Modified and its kin) in the three forms servers send: "Sun, 06 Nov 1994 08:49:37 GMT",
// the older "Sunday, 06-Nov-94 08:49:37 GMT" and asctime's "Sun Nov  6 08:49:37 1994". Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace bw::net {

// Seconds since 1970, or nothing for a text that is no such date.
std::optional<std::int64_t> parseHttpDate(std::string_view text);

} // namespace bw::net

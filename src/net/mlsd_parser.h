// SPDX-License-Identifier: MIT
// Machine listings (MLSD lines and MLST entries): "fact=value;fact=value; name", with exact sizes, types
// and times in UTC. Also the time form those facts and MDTM replies share. Pure: no sockets here.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "net/listing_parser.h"

namespace bw::net {

// "YYYYMMDDHHMMSS" with optional ".fff", in UTC, as seconds since 1970; nothing when it is no such time
// (a short text, a month 13, a 30 February).
std::optional<std::int64_t> parseFtpTimeValue(std::string_view text);

// One entry of a machine listing. Nothing for the folder itself and its parent (type cdir, pdir), for a
// line without facts or name, and for a name no folder can hold ("." , "..", one with a '/').
std::optional<ListingEntry> parseMlsdLine(std::string_view line);

} // namespace bw::net

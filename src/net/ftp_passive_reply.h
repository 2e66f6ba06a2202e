// SPDX-License-Identifier: MIT
// Reads the address of a passive data connection out of a 227 (PASV) or 229 (EPSV) reply. Pure
// functions with a plain scan: a server's reply can be long and odd, and must never cost more than
// one pass over its text. Callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace bw::net {

// Finds the six numbers h1,h2,h3,h4,p1,p2 anywhere after the code of a 227 reply: servers put them in
// parentheses, after "=", or bare at the end, with blanks around the commas or not. False when there
// are no six numbers of 0..255.
bool findPassiveAddress(std::string_view reply, std::string &host, int &port);

// RFC 2428: "229 Entering Extended Passive Mode (|||6446|)"; the delimiter is the first character
// inside the parentheses, and the address fields are empty. False without a port of 1..65535.
bool findExtendedPassivePort(std::string_view reply, int &port);

} // namespace bw::net

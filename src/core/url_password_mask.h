// SPDX-License-Identifier: MIT
// Hides the passwords of URLs behind a fixed mask wherever text leaves the program (terminal lines, log
// files, dialogs), and puts the real one back into an edited URL whose mask was left alone. Pure
// functions on text; any thread.
#pragma once

#include <string>
#include <string_view>

namespace bw::core {

// What stands in for a hidden password; its length says nothing about the real one.
inline constexpr std::string_view kPasswordMask = "********";

// `url` with the password of its user information replaced by the mask; unchanged when it holds none.
// The password is found as the queue's parser finds it: after the scheme prefixes, the user information
// runs to the last "@" and the password follows its first ":".
std::string maskUrlPassword(std::string_view url);

// `edited` with its password put back from `original` when it still shows the mask; any other password
// (a new one typed by the user) is kept.
std::string unmaskUrlPassword(std::string_view edited, std::string_view original);

// Every URL in free text (an error message, a log line) masked as above; a URL ends at white space or a
// quote.
std::string maskPasswordsInText(std::string_view text);

} // namespace bw::core

// SPDX-License-Identifier: MIT
// URI references resolved against a base URI as RFC 3986 section 5 says, on the parsed components and
// never on joined text. The components stay percent-encoded: nothing here decodes. Pure functions,
// callable from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bw::core {

// The five components of a URI reference (RFC 3986 section 3). An absent component differs from an
// empty one: "?" has an empty query, "" none.
struct UriParts
{
    std::optional<std::string> scheme;
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    bool operator==(const UriParts &) const = default;
};

// Splits a reference as RFC 3986 appendix B does. A colon makes a scheme only when what precedes it is
// one (a letter, then letters, digits, "+", "-" or "."), so "a@b.png" or "x?u=http://y" stay relative.
UriParts splitUriReference(std::string_view text);

// Joins the components back (RFC 3986 5.3).
std::string joinUriReference(const UriParts &parts);

// RFC 3986 5.2.4: "." and ".." segments removed from a path.
std::string removeDotSegments(std::string_view path);

// RFC 3986 5.2.2 (strict): the target of `reference` seen from `base`, which has a scheme.
UriParts resolveReference(const UriParts &base, const UriParts &reference);

// The same on texts.
std::string resolveUriReference(std::string_view base, std::string_view reference);

} // namespace bw::core

// SPDX-License-Identifier: MIT
// Reference resolution: splitting and joining give back the text; a resolved target keeps a scheme and
// has no dot segments left in its path.
#include "core/url_resolve.h"
#include "fuzz_check.h"

namespace {

bool hasDotSegment(std::string_view path)
{
    while (!path.empty()) {
        const auto slash = path.find('/');
        const std::string_view segment = path.substr(0, slash);
        if (segment == "." || segment == "..")
            return true;
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // "base\nreference"; without a line break the reference is resolved against a fixed base.
    const std::string_view text = bw::fuzz::bytesOf(data, size);
    const auto newline = text.find('\n');
    const std::string_view base =
        newline == std::string_view::npos ? "http://h/a/b?q" : text.substr(0, newline);
    const std::string_view reference = newline == std::string_view::npos ? text : text.substr(newline + 1);

    for (const std::string_view part : {base, reference})
        BW_FUZZ_CHECK(bw::core::joinUriReference(bw::core::splitUriReference(part)) == part);
    const bw::core::UriParts baseParts = bw::core::splitUriReference(base);
    if (!baseParts.scheme)
        return 0;
    const bw::core::UriParts referenceParts = bw::core::splitUriReference(reference);
    const bw::core::UriParts target = bw::core::resolveReference(baseParts, referenceParts);
    BW_FUZZ_CHECK(target.scheme.has_value());
    // An empty reference takes the base's path as it is.
    if (referenceParts.path.empty() && !referenceParts.authority && !referenceParts.scheme)
        return 0;
    BW_FUZZ_CHECK(!hasDotSegment(target.path));
    BW_FUZZ_CHECK(bw::core::removeDotSegments(target.path) == target.path);
    return 0;
}

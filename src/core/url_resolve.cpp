// SPDX-License-Identifier: MIT
#include "core/url_resolve.h"

namespace bw::core {

namespace {

bool isSchemeChar(char c, bool first)
{
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (first)
        return letter;
    return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

bool isScheme(std::string_view text)
{
    if (text.empty())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isSchemeChar(text[i], i == 0))
            return false;
    }
    return true;
}

// RFC 3986 5.2.3: the reference's path appended to the base path's folder.
std::string mergePaths(const UriParts &base, const std::string &path)
{
    if (base.authority && base.path.empty())
        return "/" + path;
    const auto slash = base.path.rfind('/');
    if (slash == std::string::npos)
        return path;
    return base.path.substr(0, slash + 1) + path;
}

// Removes the last segment and its preceding "/" from `output` (the ".." step).
void dropLastSegment(std::string &output)
{
    const auto slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
}

} // namespace

UriParts splitUriReference(std::string_view text)
{
    UriParts parts;
    if (const auto hash = text.find('#'); hash != std::string_view::npos) {
        parts.fragment = std::string(text.substr(hash + 1));
        text = text.substr(0, hash);
    }
    if (const auto question = text.find('?'); question != std::string_view::npos) {
        parts.query = std::string(text.substr(question + 1));
        text = text.substr(0, question);
    }
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        const std::string_view candidate = text.substr(0, colon);
        if (candidate.find('/') == std::string_view::npos && isScheme(candidate)) {
            parts.scheme = std::string(candidate);
            text.remove_prefix(colon + 1);
        }
    }
    if (text.starts_with("//")) {
        text.remove_prefix(2);
        const auto end = text.find('/');
        parts.authority = std::string(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end);
    }
    parts.path = std::string(text);
    return parts;
}

std::string joinUriReference(const UriParts &parts)
{
    std::string text;
    if (parts.scheme)
        text += *parts.scheme + ":";
    if (parts.authority)
        text += "//" + *parts.authority;
    text += parts.path;
    if (parts.query)
        text += "?" + *parts.query;
    if (parts.fragment)
        text += "#" + *parts.fragment;
    return text;
}

std::string removeDotSegments(std::string_view input)
{
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./")) {
            input.remove_prefix(2);
        } else if (input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../")) {
            input.remove_prefix(3);
            dropLastSegment(output);
        } else if (input == "/..") {
            input = "/";
            dropLastSegment(output);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            // The first segment, with its leading "/" if any, up to the next "/".
            const auto next = input.find('/', input.starts_with('/') ? 1 : 0);
            output += input.substr(0, next);
            input = next == std::string_view::npos ? std::string_view() : input.substr(next);
        }
    }
    return output;
}

UriParts resolveReference(const UriParts &base, const UriParts &reference)
{
    UriParts target;
    if (reference.scheme) {
        target = reference;
        target.path = removeDotSegments(reference.path);
    } else if (reference.authority) {
        target = reference;
        target.scheme = base.scheme;
        target.path = removeDotSegments(reference.path);
    } else {
        target.scheme = base.scheme;
        target.authority = base.authority;
        if (reference.path.empty()) {
            target.path = base.path;
            target.query = reference.query ? reference.query : base.query;
        } else {
            target.path = removeDotSegments(
                reference.path.starts_with('/') ? reference.path : mergePaths(base, reference.path));
            target.query = reference.query;
        }
        target.fragment = reference.fragment;
    }
    return target;
}

std::string resolveUriReference(std::string_view base, std::string_view reference)
{
    return joinUriReference(resolveReference(splitUriReference(base), splitUriReference(reference)));
}

} // namespace bw::core

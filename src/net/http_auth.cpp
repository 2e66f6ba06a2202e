// SPDX-License-Identifier: MIT
#include "net/http_auth.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <optional>

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace bw::net {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isAlnum(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// RFC 9110 5.6.2: the characters of a token.
bool isTokenChar(char c)
{
    return isAlnum(c) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// RFC 9110 11.2: token68, the single value a scheme may take instead of parameters (before its "=").
bool isToken68Char(char c)
{
    return isAlnum(c) || std::string_view("-._~+/").find(c) != std::string_view::npos;
}

std::string lowerCase(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && lowerCase(a) == lowerCase(b);
}

class ChallengeReader
{
public:
    explicit ChallengeReader(std::string_view text)
        : m_text(text)
    {}

    std::vector<HttpChallenge> readAll()
    {
        std::vector<HttpChallenge> challenges;
        while (true) {
            skipWhile([](char c) { return isBlank(c) || c == ','; });
            if (atEnd())
                break;
            const std::string_view name = token();
            if (name.empty())
                break;
            const std::size_t afterName = m_pos;
            skipWhile(isBlank);
            if (peek('=')) {
                // A parameter: of the challenge being read, and nothing can come before the first one.
                if (challenges.empty() || !readParameter(challenges.back(), name)) {
                    if (!challenges.empty())
                        challenges.pop_back();
                    break;
                }
                continue;
            }
            m_pos = afterName;
            challenges.push_back(HttpChallenge{lowerCase(name), {}, {}});
            readToken68(challenges.back());
        }
        return challenges;
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }

    bool peek(char c) const { return !atEnd() && m_text[m_pos] == c; }

    template <typename Predicate>
    void skipWhile(Predicate predicate)
    {
        while (!atEnd() && predicate(m_text[m_pos]))
            ++m_pos;
    }

    std::string_view token()
    {
        const std::size_t start = m_pos;
        skipWhile(isTokenChar);
        return m_text.substr(start, m_pos - start);
    }

    // RFC 9110 5.6.4: a quoted-string, with "\" taking the next character as it is.
    std::optional<std::string> quoted()
    {
        std::string value;
        for (++m_pos; !atEnd(); ++m_pos) {
            const char c = m_text[m_pos];
            if (c == '"') {
                ++m_pos;
                return value;
            }
            if (c == '\\') {
                if (++m_pos == m_text.size())
                    break;
            }
            value += m_text[m_pos];
        }
        return std::nullopt; // unterminated
    }

    // At the "=" after `name`. False when the value is missing, or something other than a "," follows.
    bool readParameter(HttpChallenge &challenge, std::string_view name)
    {
        ++m_pos;
        skipWhile(isBlank);
        std::string value;
        if (peek('"')) {
            auto text = quoted();
            if (!text)
                return false;
            value = std::move(*text);
        } else {
            value = token();
            if (value.empty())
                return false;
        }
        challenge.params.emplace(lowerCase(name), std::move(value)); // a repeated name keeps the first
        skipWhile(isBlank);
        return atEnd() || peek(',');
    }

    // "Negotiate abc==": a token68 is a value that runs to the next "," or the end.
    void readToken68(HttpChallenge &challenge)
    {
        if (atEnd() || !isBlank(m_text[m_pos]))
            return;
        std::size_t at = m_pos;
        while (at < m_text.size() && isBlank(m_text[at]))
            ++at;
        const std::size_t start = at;
        while (at < m_text.size() && isToken68Char(m_text[at]))
            ++at;
        if (at == start)
            return;
        while (at < m_text.size() && m_text[at] == '=')
            ++at;
        std::size_t end = at;
        while (end < m_text.size() && isBlank(m_text[end]))
            ++end;
        if (end < m_text.size() && m_text[end] != ',')
            return; // "realm=..." and the like: parameters
        challenge.token68 = std::string(m_text.substr(start, at - start));
        m_pos = end;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

const std::string *parameter(const HttpChallenge &challenge, const char *name)
{
    const auto it = challenge.params.find(name);
    return it == challenge.params.end() ? nullptr : &it->second;
}

bool offersQopAuth(const std::string &qop)
{
    std::size_t from = 0;
    while (from <= qop.size()) {
        std::size_t comma = qop.find(',', from);
        if (comma == std::string::npos)
            comma = qop.size();
        std::string_view option = std::string_view(qop).substr(from, comma - from);
        while (!option.empty() && isBlank(option.front()))
            option.remove_prefix(1);
        while (!option.empty() && isBlank(option.back()))
            option.remove_suffix(1);
        if (equalsIgnoringCase(option, "auth"))
            return true;
        from = comma + 1;
    }
    return false;
}

std::string hexOf(const unsigned char *bytes, std::size_t size)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0x0F];
    }
    return out;
}

std::string hexDigest(HttpAuthKind kind, std::string_view data)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    const EVP_MD *md = kind == HttpAuthKind::DigestSha256 ? EVP_sha256() : EVP_md5();
    if (EVP_Digest(data.data(), data.size(), digest.data(), &size, md, nullptr) != 1)
        return {};
    return hexOf(digest.data(), size);
}

// A quoted-string for the header; nullopt when `text` holds a control character.
std::optional<std::string> quotedValue(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return std::nullopt;
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::vector<HttpChallenge> parseChallenges(std::string_view fieldValue)
{
    return ChallengeReader(fieldValue).readAll();
}

HttpAuthKind answerableKind(const HttpChallenge &challenge)
{
    if (challenge.scheme == "basic")
        return HttpAuthKind::Basic;
    if (challenge.scheme != "digest" || !parameter(challenge, "realm") || !parameter(challenge, "nonce"))
        return HttpAuthKind::None;
    if (const std::string *qop = parameter(challenge, "qop"); qop && !offersQopAuth(*qop))
        return HttpAuthKind::None; // "auth-int" alone would need the body's hash
    const std::string *algorithm = parameter(challenge, "algorithm");
    const std::string name = algorithm ? lowerCase(*algorithm) : "md5";
    if (name == "md5" || name == "md5-sess")
        return HttpAuthKind::DigestMd5;
    if (name == "sha-256" || name == "sha-256-sess")
        return HttpAuthKind::DigestSha256;
    return HttpAuthKind::None;
}

ChosenChallenge strongestChallenge(const std::vector<std::string> &fieldValues)
{
    ChosenChallenge chosen;
    for (const std::string &value : fieldValues) {
        for (HttpChallenge &challenge : parseChallenges(value)) {
            const HttpAuthKind kind = answerableKind(challenge);
            if (kind > chosen.kind)
                chosen = {kind, std::move(challenge)};
        }
    }
    return chosen;
}

std::string basicAuthorization(std::string_view user, std::string_view password)
{
    const std::string plain = std::string(user) + ":" + std::string(password);
    std::string encoded(4 * ((plain.size() + 2) / 3) + 1, '\0');
    const int size = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(encoded.data()),
        reinterpret_cast<const unsigned char *>(plain.data()), static_cast<int>(plain.size()));
    encoded.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    return "Basic " + encoded;
}

std::string digestAuthorization(const ChosenChallenge &chosen, std::string_view user,
    std::string_view password, const DigestRequest &request)
{
    const HttpAuthKind kind = chosen.kind;
    if (kind != HttpAuthKind::DigestMd5 && kind != HttpAuthKind::DigestSha256)
        return {};
    const HttpChallenge &challenge = chosen.challenge;
    const std::string &realm = *parameter(challenge, "realm");
    const std::string &nonce = *parameter(challenge, "nonce");
    const std::string *algorithm = parameter(challenge, "algorithm");
    const std::string *opaque = parameter(challenge, "opaque");
    const bool withQop = parameter(challenge, "qop") != nullptr;
    if (withQop && request.cnonce.empty())
        return {};

    // RFC 7616 3.4.1-3.4.3: the response hashes the login (A1) and the request (A2) with the nonces.
    std::string ha1 = hexDigest(kind, std::string(user) + ":" + realm + ":" + std::string(password));
    if (algorithm && lowerCase(*algorithm).ends_with("-sess"))
        ha1 = hexDigest(kind, ha1 + ":" + nonce + ":" + request.cnonce);
    const std::string ha2 = hexDigest(kind, request.method + ":" + request.uri);
    std::array<char, 9> count{};
    std::snprintf(count.data(), count.size(), "%08x", static_cast<unsigned>(request.nonceCount));
    const std::string response = withQop
        ? hexDigest(kind, ha1 + ":" + nonce + ":" + count.data() + ":" + request.cnonce + ":auth:" + ha2)
        : hexDigest(kind, ha1 + ":" + nonce + ":" + ha2);

    const auto quotedUser = quotedValue(user);
    const auto quotedRealm = quotedValue(realm);
    const auto quotedNonce = quotedValue(nonce);
    const auto quotedUri = quotedValue(request.uri);
    const auto quotedCnonce = quotedValue(request.cnonce);
    const auto quotedOpaque = quotedValue(opaque ? *opaque : std::string());
    if (!quotedUser || !quotedRealm || !quotedNonce || !quotedUri || !quotedCnonce || !quotedOpaque
        || (algorithm && !std::all_of(algorithm->begin(), algorithm->end(), isTokenChar)))
        return {};
    std::string value = "Digest username=" + *quotedUser + ", realm=" + *quotedRealm
        + ", nonce=" + *quotedNonce + ", uri=" + *quotedUri;
    if (algorithm)
        value += ", algorithm=" + *algorithm;
    if (withQop)
        value += ", qop=auth, nc=" + std::string(count.data()) + ", cnonce=" + *quotedCnonce;
    value += ", response=\"" + response + "\"";
    if (opaque)
        value += ", opaque=" + *quotedOpaque;
    return value;
}

std::string newClientNonce()
{
    std::array<unsigned char, 16> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1)
        return {};
    return hexOf(bytes.data(), bytes.size());
}

} // namespace bw::net

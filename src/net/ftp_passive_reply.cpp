// SPDX-License-Identifier: MIT
#include "net/ftp_passive_reply.h"

#include <array>

namespace bw::net {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The blanks a reply may put around the commas: space, tab, CR, LF, vertical tab and form feed.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads up to three digits at `at`; false when there is none.
bool readNumber(std::string_view text, std::size_t &at, int &value)
{
    const std::size_t start = at;
    value = 0;
    while (at < text.size() && at - start < 3 && isDigit(text[at]))
        value = value * 10 + (text[at++] - '0');
    return at > start;
}

// Six comma-separated numbers starting exactly at `at`. Every number but the last must end where its
// digits end (a fourth digit is no comma); the last is read as its first three digits.
bool readSixNumbers(std::string_view text, std::size_t at, std::array<int, 6> &numbers)
{
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (!readNumber(text, at, numbers[i]))
            return false;
        if (i + 1 == numbers.size())
            break;
        while (at < text.size() && isBlank(text[at]))
            ++at;
        if (at == text.size() || text[at] != ',')
            return false;
        ++at;
        while (at < text.size() && isBlank(text[at]))
            ++at;
    }
    return true;
}

} // namespace

bool findPassiveAddress(std::string_view reply, std::string &host, int &port)
{
    // The code itself is not one of the numbers.
    const std::string_view text = reply.size() > 3 ? reply.substr(3) : std::string_view();
    std::array<int, 6> numbers{};
    // The first place where six numbers start wins, even inside a longer run of digits. Each try stops
    // at the first character that cannot continue it, so the scan stays linear in practice.
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (!isDigit(text[at]) || !readSixNumbers(text, at, numbers))
            continue;
        for (const int number : numbers) {
            if (number > 255)
                return false;
        }
        host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "."
            + std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
        port = numbers[4] * 256 + numbers[5];
        return true;
    }
    return false;
}

bool findExtendedPassivePort(std::string_view reply, int &port)
{
    const std::size_t open = reply.find('(');
    const std::size_t close = reply.find(')', open == std::string_view::npos ? 0 : open);
    if (open == std::string_view::npos || close == std::string_view::npos || close - open < 6)
        return false;
    const std::string_view inside = reply.substr(open + 1, close - open - 1);
    const char delimiter = inside[0];
    if (inside.size() < 5 || inside[1] != delimiter || inside[2] != delimiter || inside.back() != delimiter)
        return false;
    const std::string_view digits = inside.substr(3, inside.size() - 4);
    if (digits.empty() || digits.size() > 5)
        return false;
    int value = 0;
    for (const char c : digits) {
        if (!isDigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    port = value;
    return port >= 1 && port <= 65535;
}

} // namespace bw::net

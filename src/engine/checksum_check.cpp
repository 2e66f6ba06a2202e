// SPDX-License-Identifier: MIT
#include "engine/checksum_check.h"

#include <cerrno>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "engine/part_file.h"

namespace bw::engine {

namespace {

// A few kept copies tell the story; more would fill the disk with an item retried again and again.
constexpr int kMaxKeptCopies = 3;

std::string algorithmName(const ExpectedChecksum &expected)
{
    return std::string(core::checksumAlgorithmName(expected.value.algorithm));
}

std::string sourceText(const ExpectedChecksum &expected)
{
    return expected.serverSource.empty() ? "the user's checksum" : "the server's " + expected.serverSource;
}

} // namespace

std::string verifiedText(const ExpectedChecksum &expected)
{
    const std::string source =
        expected.serverSource.empty() ? "user checksum" : "server " + expected.serverSource;
    return "Verified " + algorithmName(expected) + " (" + source + ")";
}

std::string mismatchText(const ExpectedChecksum &expected)
{
    return "Checksum mismatch (" + algorithmName(expected) + " from " + sourceText(expected) + ")";
}

std::string mismatchValuesText(const ExpectedChecksum &expected, const std::string &actualHex)
{
    return "Expected " + algorithmName(expected) + " " + expected.value.hex + " from " + sourceText(expected)
        + "; the file has " + (actualHex.empty() ? std::string("none") : actualHex);
}

ChecksumVerdict judgeChecksum(const std::optional<ExpectedChecksum> &expected, const std::string &actualHex)
{
    if (!expected || !expected->value.isSet() || actualHex.empty())
        return ChecksumVerdict::Unchecked;
    return actualHex == expected->value.hex ? ChecksumVerdict::Verified : ChecksumVerdict::Mismatch;
}

std::string keepMismatchedFile(const std::string &path, const std::string &localPath)
{
    const std::string aside = localPath + ".mismatch";
    for (int number = 0; number <= kMaxKeptCopies; ++number) {
        const std::string candidate = number == 0 ? aside : numberedName(aside, number);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0)
            return candidate;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

} // namespace bw::engine

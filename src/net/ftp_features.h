// SPDX-License-Identifier: MIT
// What an FTP server says it can do in its answer to FEAT: one feature per line, each a name and perhaps
// its parameters ("MLST type*;size*;modify*;", "HASH SHA-256*;SHA-1"). Pure: no sockets here.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace bw::net {

class FtpFeatures
{
public:
    FtpFeatures() = default;

    // Reads the lines of a FEAT reply (the first and the last line are the reply's frame). A server
    // that refused FEAT, or answered with one line, offers nothing.
    static FtpFeatures fromReply(int code, const std::vector<std::string> &lines);

    // Feature names compare without regard to case.
    bool has(std::string_view name) const;
    // The text after the name ("type*;size*;"), empty when there is none or the feature is missing.
    std::string parameters(std::string_view name) const;

    bool isEmpty() const { return m_features.empty(); }

private:
    std::map<std::string, std::string> m_features; // upper-case name -> parameters
};

} // namespace bw::net

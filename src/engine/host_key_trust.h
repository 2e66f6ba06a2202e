// SPDX-License-Identifier: MIT
// SSH host keys that the known-hosts file does not hold: reading an item's refusal out of its status
// detail, and accepting the key the user saw. trustHostKey blocks on the network: call it from a worker
// thread, never from the window's thread; the rest are pure functions.
#pragma once

#include <optional>
#include <string>

namespace bw::engine {

// How an item's status detail begins when its server showed a host key the known hosts lack; the
// fingerprint ("SHA256:<base64>") follows, then optionally " (<key type>)". A key that differs from the
// known one is refused with a detail holding "changed".
inline constexpr const char *kHostKeyUnknownPrefix = "Host key unknown: ";

struct UnknownHostKey
{
    std::string sha256; // "SHA256:<base64>"
    std::string keyType; // "ssh-ed25519", ...; empty when the detail does not say
};

// The unknown key a status detail names; nothing for any other detail, a changed key among them.
std::optional<UnknownHostKey> unknownHostKeyOfDetail(const std::string &detail);

// Whether a status detail says the server's host key was refused, unknown or changed.
bool isHostKeyRefusal(const std::string &detail);

// Connects to `host`:`port` as `user`, and when the server's host key has the fingerprint
// `expectedSha256`, records it as that server's key. False with `error` set when it could not be
// recorded (another key, no connection, no SFTP in this build).
bool trustHostKey(const std::string &host, int port, const std::string &user,
    const std::string &expectedSha256, std::string &error);

} // namespace bw::engine

// SPDX-License-Identifier: MIT
// Diagnostic log levels of the network layer's lines; lines above the configured level are dropped.
#pragma once

namespace bw::net {

inline constexpr int kLogConnected = 2; // "Connection Established"
inline constexpr int kLogOutcome = 3; // errors, disconnects, completion lines
inline constexpr int kLogQuit = 4; // "Sending QUIT command..."
inline constexpr int kLogFileName = 6; // "Downloading File: ..." and "Uploading File: ..."

} // namespace bw::net

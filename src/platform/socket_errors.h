// SPDX-License-Identifier: MIT
// Socket error numbers in the numbering Bellwick stores and compares (10000 and up).
#pragma once

namespace bw::platform {

// The numbers the code tests for by name.
inline constexpr int kSocketInterrupted = 10004;
inline constexpr int kSocketInvalidArgument = 10022; // also: a host name that cannot be resolved
inline constexpr int kSocketNotASocket = 10038;
inline constexpr int kSocketMessageTooLong = 10040;
inline constexpr int kSocketConnectionAborted = 10053;
inline constexpr int kSocketConnectionReset = 10054;

// Translates an errno value into the stored socket error numbering. EPIPE counts as an aborted
// connection (10053); 0 stays 0; a value outside the table maps to 19999, whose text is "Unknown".
int socketErrorFromErrno(int err);

} // namespace bw::platform

// SPDX-License-Identifier: MIT
// Socket error numbers in the numbering Bellwick stores and compares (10000 and up).
#pragma once

namespace bw::platform {

// Translates an errno value into the stored socket error numbering. EPIPE counts as an aborted
// connection (10053); 0 stays 0; a value outside the table maps to 19999, whose text is "Unknown".
int socketErrorFromErrno(int err);

} // namespace bw::platform

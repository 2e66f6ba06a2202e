// SPDX-License-Identifier: MIT
// The progress callback of a file transfer, shared by the socket layer and the sessions above it.
#pragma once

#include <cstdint>
#include <functional>

namespace bw::net {

// Called on the transferring thread with the bytes done (a resume's offset included) and the expected
// total (0: unknown).
using TransferProgress = std::function<void(std::int64_t doneBytes, std::int64_t totalBytes)>;

} // namespace bw::net

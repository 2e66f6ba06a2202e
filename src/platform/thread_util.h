// SPDX-License-Identifier: MIT
// Thread identity and priority for log lines and background workers.
#pragma once

namespace bw::platform {

// The kernel thread id of the calling thread, as shown in log lines.
unsigned long currentThreadId();

// Best effort: lower the calling thread to the lowest scheduling priority. Failure is ignored.
void setLowestPriority();

} // namespace bw::platform

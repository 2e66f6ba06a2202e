// SPDX-License-Identifier: MIT
#include "platform/thread_util.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace bw::platform {

unsigned long currentThreadId()
{
    return static_cast<unsigned long>(::syscall(SYS_gettid));
}

void setLowestPriority()
{
    // On Linux a thread's nice value is per kernel thread, so this touches only the caller.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(currentThreadId()), 19);
}

} // namespace bw::platform

// SPDX-License-Identifier: MIT
#include "platform/thread_util.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace bw::platform {

unsigned long currentThreadId()
{
    // Asked for every log line: one system call per thread, not one per line.
    thread_local const unsigned long id = static_cast<unsigned long>(::syscall(SYS_gettid));
    return id;
}

void setLowestPriority()
{
    // On Linux a thread's nice value is per kernel thread, so this touches only the caller.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(currentThreadId()), 19);
}

} // namespace bw::platform

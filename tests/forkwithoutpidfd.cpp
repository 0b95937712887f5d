// Loaded into the tests that start processes under qemu-user, which refuses the clone with
// CLONE_PIDFD that QProcess uses where the kernel offers it: waitid(P_PIDFD) answers as on a kernel
// without process file descriptors, and Qt forks the usual way.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

extern "C" long syscall(long number, ...)
{
    va_list list;
    va_start(list, number);
    long arguments[6];
    for (long &argument : arguments)
        argument = va_arg(list, long);
    va_end(list);
    if (number == SYS_waitid && arguments[0] == P_PIDFD && arguments[1] == INT_MAX) {
        errno = EINVAL;
        return -1;
    }
    using Syscall = long (*)(long, ...);
    static const auto next = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
    return next(number, arguments[0], arguments[1], arguments[2], arguments[3], arguments[4],
                arguments[5]);
}

// The last step of a producer that writes api.tmp and then runs `mv api.tmp api.txt`: a small
// program of its own that renames in the current directory and writes the moment it began to do
// so to standard output, for the latency figure. The moment is taken before: the wake-up the
// rename brings about may run first, on this processor, and delay anything after it.
#include <cstdio>
#include <ctime>
#include <unistd.h>

int main()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long at = now.tv_sec * 1000000000LL + now.tv_nsec;
    return std::rename("api.tmp", "api.txt") == 0 &&
                   write(STDOUT_FILENO, &at, sizeof at) == sizeof at
               ? 0
               : 1;
}

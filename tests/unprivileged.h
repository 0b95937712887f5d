#pragma once

#include <unistd.h>

// Runs the process as an ordinary user while it lives, so that file permissions apply to it even
// when the tests run as root.
class Unprivileged {
public:
    static constexpr uid_t Nobody = 65534;

    Unprivileged()
        : m_switched(::geteuid() == 0 && ::seteuid(Nobody) == 0)
    {
    }
    ~Unprivileged()
    {
        if (m_switched)
            (void)::seteuid(0);
    }
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

private:
    const bool m_switched;
};

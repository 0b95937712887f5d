#include "quickack.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// The kernel falls back to delayed acknowledgements by itself, so the switch is set after every
// read, not once.
void acknowledgePromptly(int socket)
{
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

#pragma once

// After each read from the broker: has the kernel acknowledge what came in at once. Delayed
// acknowledgements of the broker's PUBACKs otherwise meet the broker's Nagle and hold the next
// request back by up to 40 ms. Does nothing where the system has no such switch.
void acknowledgePromptly(int socket);

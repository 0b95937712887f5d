#pragma once

#include <QtGlobal>

// The bytes of the relay's memory that are resident now, as the system counts them; 0 where it
// cannot tell.
qint64 residentMemory();

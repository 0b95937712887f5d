#include "udptransport.h"

#include "serialtransport.h"

#include "quickack.h"

void acknowledgePromptly(int)
{
}

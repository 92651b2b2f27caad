#include "StackReplies.h"

bool levelMoveRefused(const char* data, int length)
{
    return data && length > 0 && data[0] == '-';
}

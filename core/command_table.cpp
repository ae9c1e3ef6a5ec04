#include "core/command_table.h"

int CommandIndex(int32_t id)
{
    for (int k = 1; k <= kCommandCount; k++)
        if (CommandTable[k] == id)
            return k;
    return kCommandCount + 1;
}

#include "core/command_table.h"

int32_t CommandTable[101];

void FillCommandTable()
{
    for (int k = 1; k <= kCommandCount; k++)
        CommandTable[k] = 102422 + k;
}

int CommandIndex(int32_t id)
{
    for (int k = 1; k <= kCommandCount; k++)
        if (CommandTable[k] == id)
            return k;
    return kCommandCount + 1;
}

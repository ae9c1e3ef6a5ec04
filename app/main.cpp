#include "app/startup.h"
#include "core/dll_search.h"
#include "core/program.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    StartWindowFramework();
    RunStartup();
    // Normal operation never gets here: every way out ends the process.
    EndOwnProcess();
}

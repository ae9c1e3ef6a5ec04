#include "app/startup.h"
#include "core/program.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    StartWindowFramework();
    RunStartup();
    // Normal operation never gets here: every way out ends the process.
    EndOwnProcess();
}

#include "tests/support/child_process.h"

#include "tests/support/ui_driver.h"

std::string ThisProgram()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    return path;
}

std::string ThisProgramFolder()
{
    std::string program = ThisProgram();
    return program.substr(0, program.find_last_of('\\') + 1);
}

ChildProcess::~ChildProcess()
{
    if (!process_.hProcess)
        return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
}

bool ChildProcess::Start(const std::string& program, const std::string& arguments,
                         const EnvironmentVariables& environment)
{
    // The child inherits this process's block: set the variables around the
    // start and put the previous values back.
    struct Saved {
        std::string name, value;
        bool set;
    };
    std::vector<Saved> saved;
    for (auto& [name, value] : environment) {
        char old[32768];
        DWORD n = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
        saved.push_back({name, std::string(old, n < sizeof old ? n : 0), n > 0 && n < sizeof old});
        SetEnvironmentVariableA(name.c_str(), value.c_str());
    }
    std::string command = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    BOOL started = CreateProcessA(program.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process_);
    for (auto& s : saved)
        SetEnvironmentVariableA(s.name.c_str(), s.set ? s.value.c_str() : NULL);
    if (!started)
        process_ = {};
    return started;
}

DWORD ChildProcess::Wait(DWORD deadlineMs)
{
    if (!process_.hProcess)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    if (PumpUntil([&] { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }, deadlineMs))
        GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

DWORD RunChild(const std::string& program, const std::string& arguments, const EnvironmentVariables& environment,
               DWORD deadlineMs)
{
    ChildProcess child;
    if (!child.Start(program, arguments, environment))
        return STILL_ACTIVE;
    return child.Wait(deadlineMs);
}

#pragma once
// Tests that end the process, or need a second one, run a child: usually a
// copy of the test program itself with one test selected.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

using EnvironmentVariables = std::vector<std::pair<std::string, std::string>>;

// The full path of the running test program, and its folder with a trailing backslash.
std::string ThisProgram();
std::string ThisProgramFolder();

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Ends a child still running.
    ~ChildProcess();
    // Starts `program` (a full path) with `arguments` after its quoted name;
    // `environment` is set for the child only.
    bool Start(const std::string& program, const std::string& arguments, const EnvironmentVariables& environment = {});
    DWORD Id() const { return process_.dwProcessId; }
    // Pumps this thread's messages until the child ends or the deadline
    // passes; its exit code, or STILL_ACTIVE.
    DWORD Wait(DWORD deadlineMs);

private:
    PROCESS_INFORMATION process_ = {};
};

// Start and Wait in one; a child past the deadline is ended. The exit code,
// or STILL_ACTIVE when it could not start or had to be ended.
DWORD RunChild(const std::string& program, const std::string& arguments, const EnvironmentVariables& environment,
               DWORD deadlineMs);

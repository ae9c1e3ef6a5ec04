// Stands in for the browser in tests: the shell runs it for the addresses
// the program opens; it appends its first argument as one line to the log
// named by its second argument, or else by YXYT_OPEN_LOG (the desktop's
// shell starts it with the desktop's environment, not the program's), and
// the name of the program that started it as one line to the log + ".from".
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string ParentName()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return "?";
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent = entry.th32ParentProcessID;
    std::string name = "?";
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == parent)
            name = entry.szExeFile;
    CloseHandle(snapshot);
    return name;
}

void AppendLine(const std::string& path, const std::string& line)
{
    if (FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const char* log = argc >= 3 ? argv[2] : std::getenv("YXYT_OPEN_LOG");
    if (!log || !*log || argc < 2)
        return 1;
    const std::string parent = ParentName();
    HANDLE mutex = CreateMutexA(NULL, FALSE, "yxyt-open-recorder");
    WaitForSingleObject(mutex, 10000);
    // The starter first: who reads the address may then read who opened it.
    AppendLine(std::string(log) + ".from", parent);
    AppendLine(log, argv[1]);
    ReleaseMutex(mutex);
    return 0;
}

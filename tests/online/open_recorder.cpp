// Stands in for the browser in tests: the shell runs it for the addresses
// the program opens; it appends its argument as one line to the file
// named by YXYT_OPEN_LOG.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const char* log = std::getenv("YXYT_OPEN_LOG");
    if (!log || argc < 2)
        return 1;
    HANDLE mutex = CreateMutexA(NULL, FALSE, "yxyt-open-recorder");
    WaitForSingleObject(mutex, 10000);
    if (FILE* f = std::fopen(log, "ab")) {
        std::fprintf(f, "%s\n", argv[1]);
        std::fclose(f);
    }
    ReleaseMutex(mutex);
    return 0;
}

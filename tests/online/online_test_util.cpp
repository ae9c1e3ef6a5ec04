#include "online_test_util.h"

#include "tests/support/child_process.h"

#include <cstdio>

namespace {

const char* const kSchemes[] = {"http", "https"};

std::string ReadDefault(HKEY root, const std::string& key)
{
    char value[1024] = "";
    LONG size = sizeof value;
    if (RegQueryValueA(root, key.c_str(), value, &size) != ERROR_SUCCESS)
        return "";
    return value;
}

void WriteDefault(HKEY root, const std::string& key, const std::string& value)
{
    HKEY handle;
    if (RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL) == ERROR_SUCCESS) {
        RegSetValueExA(handle, NULL, 0, REG_SZ, (const BYTE*)value.c_str(), DWORD(value.size() + 1));
        RegCloseKey(handle);
    }
}

} // namespace

StandInBrowser::StandInBrowser()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    logPath_ = std::string(temp) + "yxyt-opened-" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(logPath_.c_str());
    DeleteFileA((logPath_ + ".from").c_str());
    SetEnvironmentVariableA("YXYT_OPEN_LOG", logPath_.c_str());
    const std::string command = "\"" + ThisProgramFolder() + "open_recorder.exe" + "\" \"%1\" \"" + logPath_ + "\"";
    for (int i = 0; i < 2; i++) {
        saved_[i] = ReadDefault(HKEY_CLASSES_ROOT, std::string(kSchemes[i]) + "\\shell\\open\\command");
        WriteDefault(HKEY_CLASSES_ROOT, std::string(kSchemes[i]) + "\\shell\\open\\command", command);
    }
    WriteDefault(HKEY_CLASSES_ROOT, "yxtest", "URL:yxtest");
    HKEY scheme;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "yxtest", 0, KEY_ALL_ACCESS, &scheme) == ERROR_SUCCESS) {
        RegSetValueExA(scheme, "URL Protocol", 0, REG_SZ, (const BYTE*)"", 1);
        RegCloseKey(scheme);
    }
    WriteDefault(HKEY_CLASSES_ROOT, "yxtest\\shell\\open\\command", command);
    savedTxt_ = ReadDefault(HKEY_CLASSES_ROOT, ".txt");
    WriteDefault(HKEY_CLASSES_ROOT, ".txt", "yxtest.txtfile");
    WriteDefault(HKEY_CLASSES_ROOT, "yxtest.txtfile\\shell\\open\\command", command);
}

StandInBrowser::~StandInBrowser()
{
    for (int i = 0; i < 2; i++)
        if (!saved_[i].empty())
            WriteDefault(HKEY_CLASSES_ROOT, std::string(kSchemes[i]) + "\\shell\\open\\command", saved_[i]);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "yxtest");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "yxtest.txtfile");
    if (savedTxt_.empty())
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".txt");
    else
        WriteDefault(HKEY_CLASSES_ROOT, ".txt", savedTxt_);
    DeleteFileA(logPath_.c_str());
    DeleteFileA((logPath_ + ".from").c_str());
}

namespace {

std::string ReadAll(const std::string& path)
{
    std::string text;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, got);
        fclose(f);
    }
    return text;
}

} // namespace

std::string StandInBrowser::Log() const
{
    return ReadAll(logPath_);
}

std::string StandInBrowser::Starters() const
{
    return ReadAll(logPath_ + ".from");
}

bool StandInBrowser::WaitFor(const std::string& text, DWORD deadlineMs) const
{
    // Another process writes the file: look again every 20 ms up to the deadline.
    DWORD start = GetTickCount();
    for (;;) {
        if (Log().find(text) != std::string::npos)
            return true;
        if (GetTickCount() - start >= deadlineMs)
            return false;
        Sleep(20);
    }
}

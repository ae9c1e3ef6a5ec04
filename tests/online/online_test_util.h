#pragma once
// Support of the on-line tests: stand-in browser registration.
#include <windows.h>

#include <string>

// Points the shell's "open" of http, https, the test scheme "yxtest:" and
// of .txt files at open_recorder.exe beside the test, which logs every
// address or path it is given and which program started it; restores the
// previous handlers on destruction.
class StandInBrowser {
public:
    StandInBrowser();
    ~StandInBrowser();
    std::string Log() const;
    // The file names of the programs that started the stand-in, one a line.
    std::string Starters() const;
    // Waits until the log holds `text` or the deadline passes.
    bool WaitFor(const std::string& text, DWORD deadlineMs) const;

private:
    std::string logPath_;
    std::string saved_[2];
    std::string savedTxt_;
};

#include "tests/music/ui_driver.h"

#include "tests/support/box_watcher.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string TraceFilePath;

// The name field of the open-file dialog: the combo box of the Explorer
// style (cmb13) or the edit field of the old style (edt1).
HWND FileNameField(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, 0x47C);
    if (combo) {
        HWND edit = FindWindowExA(combo, NULL, "Edit", NULL);
        return edit ? edit : combo;
    }
    return GetDlgItem(dialog, 0x480);
}

} // namespace

UiDriver::UiDriver()
{
    wake_ = CreateEventA(NULL, FALSE, FALSE, NULL);
    thread_ = std::thread([this] { Run(); });
}

UiDriver::~UiDriver()
{
    stop_ = true;
    SetEvent(wake_);
    thread_.join();
    CloseHandle(wake_);
}

void UiDriver::QueueFile(const std::string& path)
{
    std::lock_guard<std::mutex> hold(lock_);
    files_.push_back(path);
}

void UiDriver::LogTo(const std::string& path)
{
    std::lock_guard<std::mutex> hold(lock_);
    log_ = path;
}

std::vector<SeenDialog> UiDriver::Seen()
{
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
}

bool UiDriver::WaitFor(size_t count, DWORD timeoutMs)
{
    return PumpUntil([&] { return Seen().size() >= count; }, timeoutMs);
}

void UiDriver::Run()
{
    // Dialogs appear at moments the test does not know: look every 20 ms.
    while (WaitForSingleObject(wake_, 20) == WAIT_TIMEOUT && !stop_) {
        std::vector<HWND> skip;
        {
            std::lock_guard<std::mutex> hold(lock_);
            skip = answered_;
        }
        HWND found = FindVisibleDialog(GetCurrentProcessId(), skip);
        if (found)
            Answer(found);
    }
}

void UiDriver::Answer(HWND dialog)
{
    SeenDialog seen;
    seen.caption = WindowTextOf(dialog);
    seen.owner = GetWindow(dialog, GW_OWNER);
    HWND field = FileNameField(dialog);
    seen.fileDialog = field != NULL;
    int button = button_;
    if (seen.fileDialog) {
        std::string path;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!files_.empty()) {
                path = files_.front();
                files_.pop_front();
            }
        }
        if (path.empty()) {
            button = IDCANCEL;
        } else {
            SendMessageA(field, WM_SETTEXT, 0, (LPARAM)path.c_str());
            button = IDOK;
        }
    } else {
        seen.text = WindowTextOf(GetDlgItem(dialog, 0xFFFF));
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        seen_.push_back(seen);
        answered_.push_back(dialog);
        if (!log_.empty()) {
            std::ofstream out(log_, std::ios::binary | std::ios::app);
            out << seen.caption << "|" << seen.text << "|" << (seen.owner ? "owned" : "none") << "\n";
        }
    }
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(dialog, button));
}

void WriteToneWav(const std::string& path, double seconds, double frequency)
{
    const uint32_t rate = 44100, frames = (uint32_t)(seconds * rate), bytes = frames * 4;
    std::vector<int16_t> pcm(frames * 2);
    for (uint32_t i = 0; i < frames; i++)
        pcm[2 * i] = pcm[2 * i + 1] = (int16_t)(12000 * std::sin(2 * 3.14159265358979 * frequency * i / rate));
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write((const char*)&v, 4); };
    auto u16 = [&](uint16_t v) { out.write((const char*)&v, 2); };
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    out.write((const char*)pcm.data(), bytes);
}

void Trace::Start(const std::string& path)
{
    TraceFilePath = path;
    DeleteFileA(path.c_str());
    SetEnvironmentVariableA("YXYT_AUDIO_TRACE", path.c_str());
}

std::vector<std::string> Trace::Since(size_t mark)
{
    std::ifstream in(TraceFilePath, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    if (mark >= lines.size())
        return {};
    return std::vector<std::string>(lines.begin() + mark, lines.end());
}

size_t Trace::Mark()
{
    return Since(0).size();
}

std::vector<std::string> Trace::Matching(size_t mark, const std::string& prefix)
{
    std::vector<std::string> found;
    for (auto& line : Since(mark))
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
    return found;
}

std::string TempFolder(const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + name + "\\";
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

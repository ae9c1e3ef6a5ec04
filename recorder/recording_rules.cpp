#include "recorder/recording_rules.h"

#include <cstdio>

std::string RecordingFileName(const RecordingTime& t, int attempt)
{
    char name[64];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d %02d-%02d-%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    std::string text = name;
    if (attempt > 1)
        text += " (" + std::to_string(attempt) + ")";
    return text + ".wav";
}

std::string RecordingProgressText(uint64_t frames, uint32_t rate)
{
    uint64_t seconds = rate ? frames / rate : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02llu:%02llu", (unsigned long long)(seconds / 60),
                  (unsigned long long)(seconds % 60));
    return std::string("录音中 ") + text;
}

std::string RecordingEndLabel(RecordingEnd end, const std::string& path, uint32_t lostFrames)
{
    std::string text;
    switch (end) {
    case RecordingEnd::kAsked:
        text = "录音已保存：" + path;
        break;
    case RecordingEnd::kOutputReopened:
        text = "录音已结束（声音输出已重新打开）：" + path;
        break;
    case RecordingEnd::kWriteFailed:
    case RecordingEnd::kSizeLimit:
        text = "录音已停止，已录下的部分保存在：" + path;
        break;
    }
    if (lostFrames > 0)
        text += "（丢失 " + std::to_string(lostFrames) + " 帧）";
    return text;
}

std::string RecordingEndMessage(RecordingEnd end, const std::string& path)
{
    switch (end) {
    case RecordingEnd::kWriteFailed:
        return "录音文件写入失败（磁盘可能已满），录音已停止。已录下的部分保存在：" + path;
    case RecordingEnd::kSizeLimit:
        return "录音文件已达到 4 GB 上限，录音已停止。已录下的部分保存在：" + path;
    default:
        return "";
    }
}

std::string FolderFailureMessage(const std::string& folder, unsigned long systemError)
{
    return "无法创建录音文件夹：" + folder + "（错误代码 " + std::to_string(systemError) +
           "）。请检查该位置是否可以写入，或是否有同名的文件。录音没有开始，鼓声照常播放。";
}

std::string FileFailureMessage(const std::string& folder, const std::string& name, int libraryError)
{
    return "无法在录音文件夹 " + folder + " 中创建录音文件 " + name + "（错误代码 " + std::to_string(libraryError) +
           "）。请检查该文件夹是否可以写入。录音没有开始，鼓声照常播放。";
}

std::string NoOutputMessage()
{
    return "声音输出没有打开，无法录音。请在“声卡选择”中重新选择声卡后再试。";
}

std::string MidiFailureMessage(const std::string& midiPath, unsigned long systemError)
{
    return "无法写入录音的MIDI文件：" + midiPath + "（错误代码 " + std::to_string(systemError) + "）。";
}

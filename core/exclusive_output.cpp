#include "core/exclusive_output.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"

#include <cstdio>

namespace {

// What the library says of the open output; false without an output or the call.
bool OutputMode(BASS_OUTPUTMODE* mode)
{
    *mode = BASS_OUTPUTMODE();
    return BASS_GetOutputMode(mode) != FALSE;
}

} // namespace

bool CanAskExclusive()
{
    return HasBassCall("BASS_SetExclusive") && HasBassCall("BASS_GetOutputMode");
}

bool ExclusiveWished()
{
    return ReadIntSetting(kOptionSection, kExclusiveOutputKey, "0") == 1;
}

void StoreExclusiveWish(bool on)
{
    WriteIntSetting(kOptionSection, kExclusiveOutputKey, on ? 1 : 0);
}

void MarkExclusiveItem()
{
    const int32_t id = CommandOf(kExclusiveEntry);
    if (!CanAskExclusive()) {
        Program().SoundMenu.SetItemState(id, MFS_GRAYED);
        return;
    }
    const bool wished = ExclusiveWished();
    BASS_OUTPUTMODE mode;
    const bool unmet = wished && OutputMode(&mode) && mode.mode != BASS_OUTPUT_EXCLUSIVE;
    Program().SoundMenu.SetItemState(id, wished ? MFS_CHECKED : 0);
    Program().SoundMenu.SetItemText(id, unmet ? kExclusiveUnmetCaption : kExclusiveCaption);
}

std::string ExclusiveFallbackText(const BASS_OUTPUTMODE& mode)
{
    if (!mode.asked || !mode.mode || mode.mode == BASS_OUTPUT_EXCLUSIVE)
        return "";
    std::string why;
    switch (mode.reason) {
    case BASS_EXCLUSIVE_BUSY:
        why = "声卡正被其他程序独占使用";
        break;
    case BASS_EXCLUSIVE_FORMAT:
        why = "声卡不接受本程序的声音格式";
        break;
    case BASS_EXCLUSIVE_NOT_ALLOWED:
        why = "系统不允许程序独占这块声卡（可在系统声音设置里这块声卡的属性中允许应用程序独占控制）";
        break;
    default: {
        char code[40];
        snprintf(code, sizeof code, "声卡拒绝了独占（错误代码 0x%08lX）", mode.code);
        why = code;
    }
    }
    const char* used = mode.mode == BASS_OUTPUT_WAVEOUT ? "普通的 waveOut 输出" : "共享输出";
    return "无法独占声卡：" + why + "。现在使用" + used +
           "，声音照常播放。“独占输出”仍然勾选着，下次打开声卡时会再试；不需要时可在“声效设定”菜单中取消。";
}

void TellExclusiveFallback()
{
    BASS_OUTPUTMODE mode;
    if (!CanAskExclusive() || !OutputMode(&mode))
        return;
    std::string text = ExclusiveFallbackText(mode);
    if (!text.empty())
        ShowMessage(Program().MainWindow.GetHandle(), text, "友情提醒:", MB_ICONINFORMATION);
}

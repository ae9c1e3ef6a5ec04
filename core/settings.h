#pragma once
// Config.ini beside the program: read at the moment a value is needed,
// written key by key at the moment it changes. No cache.
#include <string>

// Section and key names as they stand in the file.
constexpr const char* kKitSection = "鼓源";
constexpr const char* kOptionSection = "选项";
constexpr const char* kKitVolumeKey = "鼓源音量";
constexpr const char* kKitIndexKey = "鼓源索引";
constexpr const char* kRepeatHitKey = "重复敲击";
constexpr const char* kMusicVolumeKey = "背景音量";
constexpr const char* kClosePromptKey = "关闭提示";
// "1": ask the audio library for exclusive output; anything else: shared.
constexpr const char* kExclusiveOutputKey = "独占输出";
// "0": the pads are hidden; anything else, or nothing: shown.
constexpr const char* kShowPadsKey = "显示键盘";
// The metronome: tempo in BASS_METRONOME_TEMPO_MIN..MAX, beats per bar
// 1..12, click volume 0..1, and "1" when the click goes into recordings.
constexpr const char* kMetronomeSection = "节拍器";
constexpr const char* kTempoKey = "速度";
constexpr const char* kBeatsKey = "拍数";
constexpr const char* kClickVolumeKey = "音量";
constexpr const char* kClickRecordKey = "录入录音";
// "1": a new hit of a key rings over the earlier ones; anything else: off.
constexpr const char* kRingOverKey = "余音叠加";
// "1": a held key's auto-repeat plays nothing; anything else: off.
constexpr const char* kHoldOnceKey = "按住只响一次";

std::string SettingsPath();
std::string ReadSetting(const char* section, const char* key, const char* defaultText);
int ReadIntSetting(const char* section, const char* key, const char* defaultText);
float ReadFloatSetting(const char* section, const char* key, const char* defaultText);
void WriteSetting(const char* section, const char* key, const std::string& value);
void WriteIntSetting(const char* section, const char* key, int value);
// "%.6g": 0.95 is written as 0.95 and 1 as 1.
void WriteFloatSetting(const char* section, const char* key, double value);

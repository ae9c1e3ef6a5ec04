#include "core/settings.h"

#include "core/ini_number.h"
#include "core/program.h"

#include <vector>

std::string SettingsPath()
{
    return Program().ProgramDir + "Config.ini";
}

std::string ReadSetting(const char* section, const char* key, const char* defaultText)
{
    std::vector<char> buf(10240);
    GetPrivateProfileStringA(section, key, defaultText, buf.data(), (DWORD)buf.size(), SettingsPath().c_str());
    return buf.data();
}

int ReadIntSetting(const char* section, const char* key, const char* defaultText)
{
    return ParseIniInt(ReadSetting(section, key, defaultText).c_str());
}

float ReadFloatSetting(const char* section, const char* key, const char* defaultText)
{
    return ParseIniFloat(ReadSetting(section, key, defaultText).c_str());
}

void WriteSetting(const char* section, const char* key, const std::string& value)
{
    WritePrivateProfileStringA(section, key, value.c_str(), SettingsPath().c_str());
}

void WriteIntSetting(const char* section, const char* key, int value)
{
    WriteSetting(section, key, std::to_string(value));
}

void WriteFloatSetting(const char* section, const char* key, double value)
{
    WriteSetting(section, key, FormatIniFloat(value));
}

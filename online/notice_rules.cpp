#include "online/notice_rules.h"

#include "online/url.h"

bool NoticeGate::TryPass(uint64_t now)
{
    if (now < opensAt)
        return false;
    opensAt = now + kNoticeQuietMs;
    return true;
}

std::string ParentAddress(const std::string& folderAddress)
{
    std::string address = folderAddress;
    while (!address.empty() && address.back() == '/')
        address.pop_back();
    size_t slash = address.rfind('/');
    return slash == std::string::npos ? address + "/" : address.substr(0, slash + 1);
}

bool SoundOpenCommand(const std::string& address, std::string& command)
{
    if (!IsWebAddress(address))
        return false;
    command = "open \"" + address + "\" alias sound";
    return true;
}

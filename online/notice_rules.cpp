#include "online/notice_rules.h"

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

bool IsNoticeSound(const std::string& bytes)
{
    if (bytes.size() >= 12 && bytes.compare(0, 4, "RIFF") == 0 && bytes.compare(8, 4, "WAVE") == 0)
        return true;
    if (bytes.size() >= 10 && bytes.compare(0, 3, "ID3") == 0)
        return true;
    if (bytes.size() < 4)
        return false;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const bool sync = byte(0) == 0xFF && (byte(1) & 0xE0) == 0xE0;
    const bool version = ((byte(1) >> 3) & 3) != 1; // 1 is reserved
    const bool layer3 = ((byte(1) >> 1) & 3) == 1;
    const unsigned bitrate = byte(2) >> 4;
    const unsigned rate = (byte(2) >> 2) & 3;
    return sync && version && layer3 && bitrate != 0 && bitrate != 15 && rate != 3;
}

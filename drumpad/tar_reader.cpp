#include "drumpad/tar_reader.h"

#include "drumpad/kit_model.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kBlock = 512;
// A GNU long name or a pax header larger than this is no kit's.
constexpr uint64_t kMaxMetaBytes = 64 * 1024;

std::string Field(const uint8_t* block, size_t offset, size_t size)
{
    const char* p = (const char*)block + offset;
    return std::string(p, strnlen(p, size));
}

// An octal number padded with spaces or NULs, or GNU's base-256 form
// (the top bit of the first byte set). False when it is neither.
bool Number(const uint8_t* field, size_t size, uint64_t* value)
{
    uint64_t v = 0;
    if (field[0] & 0x80) {
        if (field[0] & 0x40)
            return false; // negative
        v = field[0] & 0x3F;
        for (size_t i = 1; i < size; i++) {
            if (v >> 55)
                return false;
            v = (v << 8) | field[i];
        }
        *value = v;
        return true;
    }
    size_t i = 0;
    while (i < size && field[i] == ' ')
        i++;
    bool digits = false;
    for (; i < size && field[i] >= '0' && field[i] <= '7'; i++) {
        if (v >> 60)
            return false;
        v = v * 8 + (field[i] - '0');
        digits = true;
    }
    for (; i < size; i++)
        if (field[i] != ' ' && field[i] != 0)
            return false;
    *value = v;
    return digits;
}

bool ChecksumHolds(const uint8_t* block)
{
    uint64_t stored;
    if (!Number(block + 148, 8, &stored))
        return false;
    uint64_t unsignedSum = 0;
    int64_t signedSum = 0;
    for (size_t i = 0; i < kBlock; i++) {
        uint8_t b = (i >= 148 && i < 156) ? ' ' : block[i];
        unsignedSum += b;
        signedSum += (int8_t)b;
    }
    return stored == unsignedSum || (int64_t)stored == signedSum;
}

bool SameFolderName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = (char)(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = (char)(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

std::string TarRefusalText(TarRefusal refusal)
{
    switch (refusal) {
    case TarRefusal::None:
        return "";
    case TarRefusal::Truncated:
        return "文件不完整";
    case TarRefusal::BadHeader:
        return "文件头损坏";
    case TarRefusal::LeavesFolder:
        return "路径超出鼓源文件夹";
    case TarRefusal::OtherTopFolder:
        return "不在鼓源的顶层文件夹里";
    case TarRefusal::Link:
        return "链接";
    case TarRefusal::Device:
        return "设备或管道";
    case TarRefusal::Unsupported:
        return "不支持的条目类型";
    case TarRefusal::TooLarge:
        return "超出大小上限";
    case TarRefusal::TooMany:
        return "条目过多";
    case TarRefusal::Empty:
        return "没有内容";
    case TarRefusal::SinkFailed:
        return "写入失败";
    }
    return "";
}

TarReader::TarReader(TarSink& sink, const TarLimits& limits) : sink_(sink), limits_(limits) {}

bool TarReader::Stop(TarRefusal why, const std::string& entry)
{
    refusal = why;
    refusedEntry = entry;
    state_ = State::Stopped;
    return false;
}

bool TarReader::Feed(const uint8_t* data, size_t size)
{
    while (size > 0) {
        switch (state_) {
        case State::End:
        case State::Stopped:
            return false;
        case State::Header: {
            size_t n = std::min(size, kBlock - block_.size());
            block_.insert(block_.end(), data, data + n);
            data += n, size -= n;
            if (block_.size() == kBlock) {
                std::vector<uint8_t> block;
                block.swap(block_);
                if (!Header(block.data()))
                    return false;
            }
            break;
        }
        case State::FileData:
        case State::MetaData:
        case State::Skip: {
            size_t n = (size_t)std::min<uint64_t>(size, left_);
            if (state_ == State::FileData && n && !sink_.FileData(data, n))
                return Stop(TarRefusal::SinkFailed, "");
            if (state_ == State::MetaData)
                metaData_.append((const char*)data, n);
            left_ -= n, data += n, size -= n;
            if (left_ == 0 && padding_ > 0) {
                size_t p = (size_t)std::min<uint64_t>(size, padding_);
                padding_ -= p, data += p, size -= p;
            }
            if (left_ == 0 && padding_ == 0) {
                if (state_ == State::FileData && !sink_.EndFile())
                    return Stop(TarRefusal::SinkFailed, "");
                if (state_ == State::MetaData && meta_ == Meta::Pax && !ReadPax(metaData_))
                    return Stop(TarRefusal::BadHeader, "");
                if (state_ == State::MetaData && meta_ == Meta::LongName)
                    longName_ = metaData_.substr(0, metaData_.find('\0'));
                state_ = State::Header;
            }
            break;
        }
        }
    }
    return state_ != State::End && state_ != State::Stopped;
}

bool TarReader::Header(const uint8_t* block)
{
    if (std::all_of(block, block + kBlock, [](uint8_t b) { return b == 0; })) {
        // The end blocks; the first is enough, what follows is not read.
        state_ = State::End;
        if (entries_ == 0)
            return Stop(TarRefusal::Empty, "");
        return false;
    }
    if (!ChecksumHolds(block))
        return Stop(TarRefusal::BadHeader, Field(block, 0, 100));
    uint64_t size;
    if (!Number(block + 124, 12, &size))
        return Stop(TarRefusal::BadHeader, Field(block, 0, 100));
    char type = (char)block[156];
    left_ = size;
    padding_ = (kBlock - size % kBlock) % kBlock;
    if (type == 'L' || type == 'K' || type == 'x' || type == 'g') {
        if (size > kMaxMetaBytes)
            return Stop(TarRefusal::BadHeader, Field(block, 0, 100));
        meta_ = type == 'L' ? Meta::LongName : type == 'K' ? Meta::LongLink : type == 'x' ? Meta::Pax : Meta::GlobalPax;
        metaData_.clear();
        state_ = State::MetaData;
        if (left_ == 0 && padding_ == 0 && meta_ == Meta::Pax && !ReadPax(""))
            return Stop(TarRefusal::BadHeader, "");
        if (left_ == 0)
            state_ = State::Header;
        return true;
    }
    return Entry(block, type, size);
}

bool TarReader::Entry(const uint8_t* block, char type, uint64_t size)
{
    std::string name = Field(block, 0, 100);
    // Only POSIX ustar has a prefix; GNU keeps other fields there.
    if (std::memcmp(block + 257, "ustar\0", 6) == 0 && block[345] != 0)
        name = Field(block, 345, 155) + "/" + name;
    if (!longName_.empty())
        name = longName_;
    if (!paxPath_.empty())
        name = paxPath_;
    if (hasPaxSize_)
        size = paxSize_;
    longName_.clear(), paxPath_.clear();
    hasPaxSize_ = false;
    meta_ = Meta::None;
    left_ = size;
    padding_ = (kBlock - size % kBlock) % kBlock;

    switch (type) {
    case '1':
    case '2':
        return Stop(TarRefusal::Link, name);
    case '3':
    case '4':
    case '6':
        return Stop(TarRefusal::Device, name);
    case 'V':
        state_ = left_ ? State::Skip : State::Header; // a GNU volume label: no entry
        return true;
    case '0':
    case '\0':
    case '7':
    case '5':
        break;
    default:
        return Stop(TarRefusal::Unsupported, name);
    }
    bool folder = type == '5';
    std::string path = KitRelativePath("", name, TextCoding::Utf8);
    if (path.empty() && folder && name.find_first_not_of("./") == std::string::npos) {
        state_ = left_ ? State::Skip : State::Header; // "./": the archive's own root
        return true;
    }
    if (!Accept(path, name, folder))
        return false;
    if (++entries_ > limits_.maxEntries)
        return Stop(TarRefusal::TooMany, name);
    if (folder) {
        if (!sink_.Folder(path))
            return Stop(TarRefusal::SinkFailed, name);
        state_ = left_ ? State::Skip : State::Header;
        return true;
    }
    if (size > limits_.maxBytes - bytes_)
        return Stop(TarRefusal::TooLarge, name);
    bytes_ += size;
    if (!sink_.BeginFile(path, size))
        return Stop(TarRefusal::SinkFailed, name);
    state_ = State::FileData;
    if (left_ == 0) {
        state_ = State::Header;
        if (!sink_.EndFile())
            return Stop(TarRefusal::SinkFailed, name);
    }
    return true;
}

bool TarReader::Accept(const std::string& path, const std::string& name, bool folder)
{
    if (path.empty())
        return Stop(TarRefusal::LeavesFolder, name);
    size_t slash = path.find('/');
    std::string top = path.substr(0, slash);
    if (entries_ == 0)
        topFolder = top;
    // Only the top folder itself may lie at the top; a file there would
    // have nowhere to go.
    if (!SameFolderName(top, topFolder) || (slash == std::string::npos && !folder))
        return Stop(TarRefusal::OtherTopFolder, name);
    return true;
}

bool TarReader::ReadPax(const std::string& records)
{
    size_t i = 0;
    while (i < records.size()) {
        size_t space = records.find(' ', i);
        int64_t length;
        if (space == std::string::npos || !ParseKitInteger(records.substr(i, space - i), &length) ||
            length <= (int64_t)(space - i + 1) || (uint64_t)length > records.size() - i ||
            records[i + length - 1] != '\n')
            return false;
        std::string record = records.substr(space + 1, i + length - 1 - space - 1);
        size_t eq = record.find('=');
        if (eq == std::string::npos)
            return false;
        std::string key = record.substr(0, eq), value = record.substr(eq + 1);
        if (meta_ == Meta::Pax && key == "path") {
            paxPath_ = value;
        } else if (meta_ == Meta::Pax && key == "size") {
            int64_t size;
            if (!ParseKitInteger(value, &size) || size < 0)
                return false;
            paxSize_ = (uint64_t)size;
            hasPaxSize_ = true;
        }
        i += length;
    }
    return true;
}

bool TarReader::Finish()
{
    if (state_ == State::Stopped)
        return false;
    if (state_ != State::End) {
        if (entries_ == 0 && block_.empty() && state_ == State::Header)
            return Stop(TarRefusal::Empty, "");
        return Stop(TarRefusal::Truncated, "");
    }
    return true;
}

#pragma once
// The tar inside a packed Hydrogen kit (.h2drumkit), read as it streams:
// ustar, GNU long names and pax headers. Each entry is checked before any
// of it is handed on: it must lie inside the archive's one top folder;
// links of every kind, devices, fifos and entries we cannot read stop the
// unpacking, as do more bytes or entries than the limits allow. The sink
// writes what it is given; whoever unpacks throws a stopped folder away.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TarLimits {
    uint64_t maxBytes = 2ull * 1024 * 1024 * 1024; // the files' sizes added up
    uint32_t maxEntries = 20000;                    // files and folders
};

// Where the entries go, in archive order. Paths are "/"-separated, UTF-8
// as the archive gives them, and begin with the top folder. A false
// answer stops the unpacking (a full disk).
class TarSink {
public:
    virtual ~TarSink() = default;
    virtual bool Folder(const std::string& path) = 0;
    virtual bool BeginFile(const std::string& path, uint64_t size) = 0;
    virtual bool FileData(const uint8_t* data, size_t size) = 0;
    virtual bool EndFile() = 0;
};

enum class TarRefusal {
    None,
    Truncated,      // the archive ends inside an entry or without its end blocks
    BadHeader,      // a checksum, a number or a pax record that is not one
    LeavesFolder,   // absolute, a drive, ".." above the top, a device name
    OtherTopFolder, // not inside the first entry's top folder
    Link,           // hard or symbolic link
    Device,         // character or block device, fifo
    Unsupported,    // sparse, multi-volume and other entry kinds
    TooLarge,       // past TarLimits::maxBytes
    TooMany,        // past TarLimits::maxEntries
    Empty,          // no entry at all
    SinkFailed,     // the sink said no
};
// A short text for the label: "链接", "超出大小上限" ...
std::string TarRefusalText(TarRefusal refusal);

class TarReader {
public:
    TarReader(TarSink& sink, const TarLimits& limits);
    // Takes the next bytes of the archive. False once it stopped (see
    // refusal) or reached its end block: give it no more.
    bool Feed(const uint8_t* data, size_t size);
    // The archive's bytes are all given: whether it ended well.
    bool Finish();
    bool Ended() const { return state_ == State::End; }

    TarRefusal refusal = TarRefusal::None;
    // The entry refused, as the archive names it.
    std::string refusedEntry;
    // The archive's top folder, once the first entry is read.
    std::string topFolder;

private:
    enum class State { Header, FileData, MetaData, Skip, End, Stopped };
    enum class Meta { None, LongName, LongLink, Pax, GlobalPax };

    bool Header(const uint8_t* block);
    bool Entry(const uint8_t* block, char type, uint64_t size);
    bool ReadPax(const std::string& records);
    bool Stop(TarRefusal why, const std::string& entry);
    bool Accept(const std::string& path, const std::string& name, bool folder);

    TarSink& sink_;
    TarLimits limits_;
    State state_ = State::Header;
    std::vector<uint8_t> block_; // a header's bytes while they arrive
    uint64_t left_ = 0;          // of the current entry's data
    uint64_t padding_ = 0;       // after it, to the next 512 bytes
    Meta meta_ = Meta::None;
    std::string metaData_;
    std::string longName_, paxPath_;
    bool hasPaxSize_ = false;
    uint64_t paxSize_ = 0;
    uint64_t bytes_ = 0;
    uint32_t entries_ = 0;
};

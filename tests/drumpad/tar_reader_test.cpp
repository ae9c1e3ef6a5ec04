// The packed kit's tar and gzip: the formats real archivers write, every
// kind of hostile entry, a real kit packed by GNU tar, and gzip bombs.
#include "drumpad/packed_kit.h"
#include "drumpad/tar_reader.h"
#include "real_kits.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <map>

#include <unistd.h>

namespace {

std::string Octal(uint64_t v, size_t digits)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llo", (int)digits, (unsigned long long)v);
    return buf;
}

std::string Header(const std::string& name, char type, uint64_t size, const std::string& prefix = "",
                   const std::string& sizeField = "")
{
    std::string h(512, '\0');
    h.replace(0, std::min<size_t>(name.size(), 100), name.substr(0, 100));
    h.replace(100, 7, "0000644");
    h.replace(124, sizeField.empty() ? 11 : 12, sizeField.empty() ? Octal(size, 11) : sizeField);
    h.replace(136, 11, Octal(0, 11));
    h[156] = type;
    h.replace(257, 8, std::string("ustar\0" "00", 8));
    h.replace(345, prefix.size(), prefix);
    h.replace(148, 8, "        ");
    unsigned sum = 0;
    for (unsigned char c : h)
        sum += c;
    h.replace(148, 7, Octal(sum, 6) + '\0');
    return h;
}

std::string Entry(const std::string& name, char type, const std::string& data, const std::string& prefix = "")
{
    std::string e = Header(name, type, data.size(), prefix) + data;
    return e + std::string((512 - data.size() % 512) % 512, '\0');
}

std::string File(const std::string& name, const std::string& data = "data")
{
    return Entry(name, '0', data);
}

std::string Pax(char type, const std::map<std::string, std::string>& records)
{
    std::string data;
    for (auto& r : records) {
        std::string body = " " + r.first + "=" + r.second + "\n";
        size_t n = body.size() + 1;
        while (std::to_string(n).size() + body.size() != n)
            n++;
        data += std::to_string(n) + body;
    }
    return Entry("PaxHeader", type, data);
}

const std::string kEnd(1024, '\0');

struct Sink : TarSink {
    std::vector<std::string> events;
    std::map<std::string, std::string> files;
    std::string current;
    bool Folder(const std::string& path) override
    {
        events.push_back("folder " + path);
        return true;
    }
    bool BeginFile(const std::string& path, uint64_t size) override
    {
        events.push_back("file " + path + " " + std::to_string(size));
        current = path;
        files[path].clear();
        return true;
    }
    bool FileData(const uint8_t* data, size_t size) override
    {
        files[current].append((const char*)data, size);
        return true;
    }
    bool EndFile() override
    {
        events.push_back("end " + current);
        return true;
    }
};

struct Read {
    bool ok;
    TarRefusal refusal;
    std::string entry;
    Sink sink;
};

Read ReadTar(const std::string& archive, size_t chunk, TarLimits limits = {})
{
    Read r;
    TarReader tar(r.sink, limits);
    for (size_t i = 0; i < archive.size(); i += chunk)
        if (!tar.Feed((const uint8_t*)archive.data() + i, std::min(chunk, archive.size() - i)))
            break;
    r.ok = tar.Finish();
    r.refusal = tar.refusal;
    r.entry = tar.refusedEntry;
    return r;
}

class MemorySource : public ArchiveSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    bool Read(uint8_t* buffer, size_t size, size_t* got) override
    {
        *got = std::min(size, bytes_.size() - at_);
        std::copy(bytes_.begin() + at_, bytes_.begin() + at_ + *got, buffer);
        at_ += *got;
        return true;
    }
    size_t at_ = 0;

private:
    std::string bytes_;
};

// gzip of `head`, then `zeros` zero bytes, then `tail`, made in pieces so
// that a bomb never lies in memory unpacked.
std::string Gzip(const std::string& head, uint64_t zeros = 0, const std::string& tail = "")
{
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::string out;
    std::vector<char> buffer(1 << 16);
    const std::string zeroChunk(1 << 20, '\0');
    auto put = [&](const std::string& data, int flush) {
        z.next_in = (Bytef*)data.data();
        z.avail_in = (uInt)data.size();
        do {
            z.next_out = (Bytef*)buffer.data();
            z.avail_out = (uInt)buffer.size();
            deflate(&z, flush);
            out.append(buffer.data(), buffer.size() - z.avail_out);
        } while (z.avail_out == 0);
    };
    put(head, Z_NO_FLUSH);
    for (uint64_t n = 0; n < zeros; n += zeroChunk.size())
        put(zeroChunk.substr(0, std::min<uint64_t>(zeroChunk.size(), zeros - n)), Z_NO_FLUSH);
    put(tail, Z_FINISH);
    deflateEnd(&z);
    return out;
}

} // namespace

TEST(TarReader, UstarGnuLongNamesAndPaxHeadersInAnyChunks)
{
    const std::string longName = "Kit/" + std::string(150, 'x') + ".wav";
    const std::string archive = Entry("./", '5', "") + Entry("Kit/", '5', "") + File("Kit/drumkit.xml", "<drumkit_info/>") +
                                Entry("kick.wav", '0', "KICK", "Kit/Samples") +
                                Entry("././@LongLink", 'L', longName + '\0') + File("Kit/cut-short.wav", "LONG") +
                                Pax('g', {{"comment", "made by a test"}}) +
                                Pax('x', {{"path", "Kit/Snare \xE5\x86\x9B.wav"}, {"size", "5"}}) +
                                File("Kit/placeholder", "SNARE") + File("./Kit/./empty.wav", "") + kEnd;
    const std::vector<std::string> expected = {
        "folder Kit", "file Kit/drumkit.xml 15", "end Kit/drumkit.xml", "file Kit/Samples/kick.wav 4",
        "end Kit/Samples/kick.wav", "file " + longName + " 4", "end " + longName,
        "file Kit/Snare \xE5\x86\x9B.wav 5", "end Kit/Snare \xE5\x86\x9B.wav", "file Kit/empty.wav 0",
        "end Kit/empty.wav"};
    for (size_t chunk : {archive.size(), (size_t)1, (size_t)511, (size_t)513}) {
        Read r = ReadTar(archive, chunk);
        EXPECT_TRUE(r.ok) << TarRefusalText(r.refusal) << " " << r.entry << " in chunks of " << chunk;
        EXPECT_EQ(r.sink.events, expected) << chunk;
        EXPECT_EQ(r.sink.files["Kit/Samples/kick.wav"], "KICK");
        EXPECT_EQ(r.sink.files["Kit/Snare \xE5\x86\x9B.wav"], "SNARE");
    }
}

TEST(TarReader, EntriesThatLeaveTheKitLinksDevicesAndBrokenArchivesStopIt)
{
    const std::string kit = Entry("Kit/", '5', "");
    std::string badChecksum = File("Kit/a.wav");
    badChecksum[0] = 'J';
    std::string badSize = File("Kit/a.wav");
    badSize.replace(124, 3, "9x9");
    // GNU's base-256 sizes: 1 TB, and one past what 64 bits hold.
    const std::string terabyte = Header("Kit/huge.wav", '0', 0, "", std::string("\x80\0\0\0\0\0\0\x01\0\0\0\0", 12));
    const std::string past = Header("Kit/past.wav", '0', 0, "", "\x80" + std::string(11, '\xFF'));
    struct Case {
        const char* what;
        std::string archive;
        TarRefusal refusal;
        const char* entry;
        TarLimits limits;
    } cases[] = {
        {"parent", kit + File("../evil.wav") + kEnd, TarRefusal::LeavesFolder, "../evil.wav", {}},
        {"absolute", File("/etc/cron.d/x") + kEnd, TarRefusal::LeavesFolder, "/etc/cron.d/x", {}},
        {"climbs out", kit + File("Kit/../../x.wav") + kEnd, TarRefusal::LeavesFolder, "Kit/../../x.wav", {}},
        {"backslashes", kit + File("Kit\\..\\..\\x.wav") + kEnd, TarRefusal::LeavesFolder, "Kit\\..\\..\\x.wav", {}},
        {"drive", File("C:/Windows/x.dll") + kEnd, TarRefusal::LeavesFolder, "C:/Windows/x.dll", {}},
        {"device name", kit + File("Kit/aux.wav") + kEnd, TarRefusal::LeavesFolder, "Kit/aux.wav", {}},
        {"other top", kit + File("Kit/a.wav") + File("Other/b.wav") + kEnd, TarRefusal::OtherTopFolder, "Other/b.wav", {}},
        {"file on top", File("loose.wav") + kEnd, TarRefusal::OtherTopFolder, "loose.wav", {}},
        {"symlink", kit + Entry("Kit/link", '2', "") + kEnd, TarRefusal::Link, "Kit/link", {}},
        {"hard link", kit + Entry("Kit/hard", '1', "") + kEnd, TarRefusal::Link, "Kit/hard", {}},
        {"char device", kit + Entry("Kit/tty", '3', "") + kEnd, TarRefusal::Device, "Kit/tty", {}},
        {"block device", kit + Entry("Kit/sda", '4', "") + kEnd, TarRefusal::Device, "Kit/sda", {}},
        {"fifo", kit + Entry("Kit/pipe", '6', "") + kEnd, TarRefusal::Device, "Kit/pipe", {}},
        {"sparse", kit + Entry("Kit/s.wav", 'S', "") + kEnd, TarRefusal::Unsupported, "Kit/s.wav", {}},
        {"checksum", kit + badChecksum + kEnd, TarRefusal::BadHeader, "Jit/a.wav", {}},
        {"size", kit + badSize + kEnd, TarRefusal::BadHeader, "Kit/a.wav", {}},
        {"base-256 size", kit + terabyte + kEnd, TarRefusal::TooLarge, "Kit/huge.wav", {}},
        {"base-256 overflow", kit + past + kEnd, TarRefusal::BadHeader, "Kit/past.wav", {}},
        {"pax record", kit + Entry("p", 'x', "99 path=x\n") + File("Kit/a.wav") + kEnd, TarRefusal::BadHeader, "", {}},
        {"long name past 64 KB", kit + Entry("L", 'L', std::string(70000, 'a')) + kEnd, TarRefusal::BadHeader, "L", {}},
        {"inside data", kit + File("Kit/a.wav", std::string(1000, 'a')).substr(0, 700), TarRefusal::Truncated, "", {}},
        {"no end blocks", kit + File("Kit/a.wav"), TarRefusal::Truncated, "", {}},
        {"half a header", kit.substr(0, 300), TarRefusal::Truncated, "", {}},
        {"nothing", kEnd, TarRefusal::Empty, "", {}},
        {"too many", kit + File("Kit/a") + File("Kit/b") + File("Kit/c") + kEnd, TarRefusal::TooMany, "Kit/c", {100, 3}},
        {"too large", kit + File("Kit/a", std::string(60, 'a')) + File("Kit/b", std::string(41, 'b')) + kEnd,
         TarRefusal::TooLarge, "Kit/b", {100, 10}},
    };
    for (const Case& c : cases) {
        Read r = ReadTar(c.archive, 512, c.limits);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.refusal, c.refusal) << c.what;
        EXPECT_EQ(r.entry, c.entry) << c.what;
        EXPECT_FALSE(TarRefusalText(r.refusal).empty()) << c.what;
        // Nothing of a refused entry reached the sink.
        for (const std::string& e : r.sink.events)
            EXPECT_EQ(e.find(c.entry[0] ? c.entry : "\x01"), std::string::npos) << c.what << ": " << e;
    }
}

TEST(PackedKit, ARealKitPackedByGnuTarComesOutByteForByte)
{
    const std::filesystem::path& kits = kRealKits;
    const std::filesystem::path out = std::filesystem::temp_directory_path() / ("yxyt_packed_" + std::to_string(getpid()));
    std::filesystem::create_directories(out);
    for (const char* kit : {"VariBreaks", "Gimme A Hand 1.0"}) {
        for (const char* format : {"gnu", "pax"}) {
            std::filesystem::path archive = out / (std::string(format) + ".h2drumkit");
            std::string command = "/usr/bin/tar --format=" + std::string(format) + " -czf '" + archive.string() +
                                  "' -C '" + kits.string() + "' '" + kit + "'";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            Sink sink;
            MemorySource source(FileText(archive));
            UnpackResult r = UnpackPackedKit(source, sink, {});
            ASSERT_TRUE(r.ok) << kit << " " << format << ": " << TarRefusalText(r.refusal) << " " << r.refusedEntry
                              << r.gzipError;
            EXPECT_EQ(r.topFolder, kit);
            size_t files = 0;
            for (const auto& f : std::filesystem::recursive_directory_iterator(kits / kit)) {
                if (!f.is_regular_file())
                    continue;
                files++;
                std::string name = std::string(kit) + "/" + std::filesystem::relative(f.path(), kits / kit).string();
                EXPECT_TRUE(sink.files.count(name) && sink.files[name] == FileText(f.path())) << name;
            }
            EXPECT_EQ(sink.files.size(), files);
            EXPECT_GT(files, 10u);
        }
    }
    std::filesystem::remove_all(out);
}

TEST(PackedKit, GzipBombsAndTruncatedStreamsEndEarly)
{
    // One entry claiming 128 MB of zeros: about 130 KB packed, refused at
    // its header, so the rest is never read.
    const uint64_t zeros = 128ull << 20;
    std::string packed = Gzip(Entry("Kit/", '5', "") + Header("Kit/bomb.wav", '0', zeros), zeros, kEnd);
    MemorySource bomb(packed);
    Sink sink;
    UnpackResult r = UnpackPackedKit(bomb, sink, {1 << 20, 100});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.refusal, TarRefusal::TooLarge);
    EXPECT_EQ(r.refusedEntry, "Kit/bomb.wav");
    EXPECT_LT(bomb.at_, packed.size()); // stopped before the end

    // A small kit followed by 128 MB of zeros: read to its end block only.
    std::string padded = Gzip(Entry("Kit/", '5', "") + File("Kit/a.wav") + kEnd, zeros);
    MemorySource tail(padded);
    Sink tailSink;
    EXPECT_TRUE(UnpackPackedKit(tail, tailSink, {}).ok);
    EXPECT_LT(tail.at_, padded.size());

    // Inflated bytes past the limit without any entry (zeros are read as
    // headers, so this is junk that inflates hugely).
    std::string junk = Gzip(std::string(8 << 20, '\x01'));
    MemorySource junkSource(junk);
    Sink junkSink;
    UnpackResult j = UnpackPackedKit(junkSource, junkSink, {1 << 20, 100});
    EXPECT_FALSE(j.ok);

    // Cut in half, and not gzip at all.
    std::string whole = Gzip(Entry("Kit/", '5', "") + File("Kit/a.wav", std::string(5000, 'a')) + kEnd);
    MemorySource half(whole.substr(0, whole.size() / 2));
    Sink halfSink;
    UnpackResult h = UnpackPackedKit(half, halfSink, {});
    EXPECT_FALSE(h.ok);
    EXPECT_EQ(h.refusal, TarRefusal::Truncated);
    MemorySource plain(Entry("Kit/", '5', "") + kEnd);
    Sink plainSink;
    UnpackResult p = UnpackPackedKit(plain, plainSink, {});
    EXPECT_FALSE(p.ok);
    EXPECT_FALSE(p.gzipError.empty());
}

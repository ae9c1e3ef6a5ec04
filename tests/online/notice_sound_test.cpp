// The urgent notice of type "1" in this process: its sound fetched by the
// program's own client from a recording server and played through the
// real audio library, whose trace shows what it was asked.
#include "core/program.h"
#include "online/notices.h"
#include "recording_server.h"
#include "tests/support/audio_trace.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Targets = std::vector<std::string>;

const std::string kEN = "/YXProgect/EN.txt";
const std::string kType = "/YXProgect/ENType.txt";
const std::string kIndex = "/YXProgect/ENIndex.txt";

struct NoticeSoundTest : ::testing::Test {
    static RecordingServer* server;
    FetchGroup fetches{kFetchDeadlineMs};

    static void SetUpTestSuite()
    {
        server = new RecordingServer;
        SetServerRoot(server->Root());
        MakeProgramDir(TempFolder("yxyt notice sound"), true);
        BuildMainWindow(nullptr, true);
        LetNoticeSoundsPlay();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ResetOnline();
        server->ClearLog();
        server->ServeText(kEN, "open");
        server->ServeText(kType, "1");
    }
    // One check with ENIndex.txt reading `index`; the library's calls it made.
    std::vector<TraceCall> Check(const std::string& index)
    {
        server->ServeText(kIndex, index);
        Trace trace;
        RunNoticeCheck(fetches);
        return trace.Calls({"BASS_StreamCreateFile", "BASS_ChannelSetSync", "BASS_ChannelPlay", "BASS_StreamFree"});
    }
};
RecordingServer* NoticeSoundTest::server = nullptr;

std::string Unquoted(const std::string& text)
{
    return text.size() >= 2 && text.front() == '"' ? text.substr(1, text.size() - 2) : text;
}

TEST_F(NoticeSoundTest, FetchedByTheProgramAndPlayedThroughItsLibrary)
{
    server->ServeText("/notice.wav", ToneWav(880, 300));
    const std::vector<TraceCall> calls = Check(server->Root() + "/notice.wav\r\n");

    // The program's own client asked for it, with its own agent.
    EXPECT_EQ(server->Targets(), (Targets{kEN, kEN, kType, kIndex, "/notice.wav"}));
    EXPECT_NE(server->Requests().back().raw.find("User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\n"),
              std::string::npos);

    // A stream of a file of the fetched bytes, played once, freed after its end.
    ASSERT_EQ(calls.size(), 4u) << Trace().Dump();
    EXPECT_EQ(calls[0].name, "BASS_StreamCreateFile");
    ASSERT_EQ(calls[0].args.size(), 5u);
    const std::string stream = calls[0].result;
    ASSERT_NE(stream, "0");
    const std::string path = Unquoted(calls[0].args[1]);
    EXPECT_EQ(calls[1].name, "BASS_ChannelSetSync");
    EXPECT_EQ(calls[2].name, "BASS_ChannelPlay");
    EXPECT_EQ(calls[2].args, (std::vector<std::string>{stream, "0"}));
    EXPECT_EQ(calls[2].result, "1");
    EXPECT_EQ(calls[3].name, "BASS_StreamFree");
    EXPECT_EQ(calls[3].args, (std::vector<std::string>{stream}));
    // The check returned after the sound: its file is gone, and so is the
    // folder of its own it was written in.
    EXPECT_FALSE(FileExists(path)) << path;
    const std::string folder = path.substr(0, path.rfind('\\'));
    EXPECT_NE(folder.find("\\yxyt-"), std::string::npos) << path;
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES) << folder;

    // Nothing went to MCI.
    char mode[64] = "";
    EXPECT_NE(mciSendStringA("status sound mode", mode, sizeof mode, NULL), 0u);
}

TEST_F(NoticeSoundTest, OnlyWebAddressesAreFetchedAndOnlySoundsPlayed)
{
    const std::string folder = TempFolder("yxyt notice sound");
    const std::string wav = folder + "local.wav";
    WriteFileBytes(wav, ToneWav(440, 100));
    // A local file, a share (the program runs elevated: a share could be
    // anyone's), and a web address with a quote.
    for (const std::string& address : {wav, std::string("\\\\127.0.0.1\\share\\notice.wav"),
                                       std::string("http://127.0.0.1:9/a.wav\" alias other \"")}) {
        SCOPED_TRACE(address);
        ResetOnline();
        server->ClearLog();
        EXPECT_EQ(Check(address).size(), 0u);
        EXPECT_EQ(server->Targets(), (Targets{kEN, kEN, kType, kIndex}));
    }
    DeleteFileA(wav.c_str());

    // Fetched, but no sound: a web page, and a sound longer than the cap.
    std::string longSound = ToneWav(440, 100);
    longSound.resize(kFetchBodyCap + 1, '\x10');
    server->ServeText("/page.wav", "<html>not found</html>");
    server->ServeText("/long.wav", longSound);
    for (const char* file : {"/page.wav", "/long.wav"}) {
        SCOPED_TRACE(file);
        ResetOnline();
        server->ClearLog();
        EXPECT_EQ(Check(server->Root() + file).size(), 0u);
        EXPECT_EQ(server->Targets(), (Targets{kEN, kEN, kType, kIndex, file}));
    }
}

} // namespace

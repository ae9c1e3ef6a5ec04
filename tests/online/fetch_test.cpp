// FetchUrl over the real WinINet against a recording server in this process.
#include "core/program.h"
#include "online/http.h"
#include "online/notices.h"
#include "online/url.h"
#include "recording_server.h"
#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string HeaderLine(const std::string& raw, const std::string& name)
{
    size_t at = raw.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return "(absent)";
    at += name.size() + 4;
    return raw.substr(at, raw.find("\r\n", at) - at);
}

FetchReply Fetch(const std::string& url)
{
    FetchRequest request;
    request.url = url;
    return FetchUrl(request);
}

// Bytes 0..255 repeated, with NULs throughout.
std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++)
        bytes[i] = char((i * 7 + i / 256) & 0xFF);
    return bytes;
}

struct FetchTest : ::testing::Test {
    RecordingServer server;
};

TEST_F(FetchTest, DefaultRequestCarriesExactHeadersAndAgent)
{
    server.ServeText("/YXProgect/Mixed/Ver.TXT?Q=Ab", "1.1.0.0");
    const std::string url = server.Root() + "/YXProgect/Mixed/Ver.TXT?Q=Ab";
    FetchReply reply = Fetch(url);

    EXPECT_EQ(reply.body, "1.1.0.0");
    const std::string expected = "Accept: */*\r\nReferer: " + url +
                                 "\r\nAccept-Language: zh-cn\r\n"
                                 "Content-Type: application/x-www-form-urlencoded";
    EXPECT_EQ(reply.headersSent, expected);

    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string raw = server.Requests()[0].raw;
    EXPECT_EQ(raw.substr(0, raw.find("\r\n")), "GET /YXProgect/Mixed/Ver.TXT?Q=Ab HTTP/1.1");
    EXPECT_NE(raw.find("\r\n" + expected + "\r\n"), std::string::npos) << raw;
    EXPECT_EQ(HeaderLine(raw, "User-Agent"), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
    EXPECT_EQ(HeaderLine(raw, "Host"), "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(HeaderLine(raw, "Cookie"), "(absent)");
}

TEST_F(FetchTest, SchemelessUrlIsPlainHttp)
{
    server.ServeText("/x.txt", "plain");
    EXPECT_EQ(FetchText("127.0.0.1:" + std::to_string(server.Port()) + "/x.txt"), "plain");
}

TEST_F(FetchTest, BodyKeepsNulBytesAndTextEndsAtTheFirst)
{
    const std::string bytes("ab\0cd\0\xff", 7);
    server.ServeText("/nul.bin", bytes);
    EXPECT_EQ(Fetch(server.Root() + "/nul.bin").body, bytes);
    EXPECT_EQ(FetchText(server.Root() + "/nul.bin"), "ab");
}

TEST_F(FetchTest, BodyIsCappedAtOneMebibyte)
{
    const std::string huge = Pattern(3 * kFetchBodyCap + 123);
    server.ServeText("/huge.bin", huge);
    server.ServeText("/limit.bin", huge.substr(0, kFetchBodyCap));
    server.ServeText("/under.bin", huge.substr(0, kFetchBodyCap - 1));

    std::string body = Fetch(server.Root() + "/huge.bin").body;
    ASSERT_EQ(body.size(), kFetchBodyCap);
    EXPECT_TRUE(body == huge.substr(0, kFetchBodyCap));
    EXPECT_TRUE(Fetch(server.Root() + "/limit.bin").body == huge.substr(0, kFetchBodyCap));
    EXPECT_TRUE(Fetch(server.Root() + "/under.bin").body == huge.substr(0, kFetchBodyCap - 1));
}

TEST_F(FetchTest, ErrorPagesAreContent)
{
    CannedResponse missing;
    missing.status = 404;
    missing.body = "<h1>404</h1>";
    server.Serve("/gone.txt", missing);
    CannedResponse broken;
    broken.status = 500;
    broken.body = "server broke";
    server.Serve("/broken.txt", broken);
    EXPECT_EQ(FetchText(server.Root() + "/gone.txt"), "<h1>404</h1>");
    EXPECT_EQ(FetchText(server.Root() + "/broken.txt"), "server broke");
}

TEST_F(FetchTest, RedirectsAreFollowedUnlessSwitchedOff)
{
    CannedResponse moved;
    moved.status = 302;
    moved.headers = "Location: /new.txt\r\n";
    moved.body = "moved";
    server.Serve("/old.txt", moved);
    server.ServeText("/new.txt", "new place");

    EXPECT_EQ(FetchText(server.Root() + "/old.txt"), "new place");
    EXPECT_EQ(server.Targets(), (std::vector<std::string>{"/old.txt", "/new.txt"}));

    server.ClearLog();
    FetchRequest request;
    request.url = server.Root() + "/old.txt";
    request.noRedirect = true;
    EXPECT_EQ(FetchUrl(request).body, "moved");
    EXPECT_EQ(server.Targets(), (std::vector<std::string>{"/old.txt"}));
}

TEST_F(FetchTest, SetCookieInMixedCaseIsCollected)
{
    CannedResponse cookies;
    // A path of their own keeps these cookies off every other request.
    cookies.headers = "SET-COOKIE: a=1; Path=/cookie/\r\nset-cookie: b=2; Path=/cookie/\r\n";
    cookies.body = "ok";
    server.Serve("/cookie/set", cookies);
    FetchReply reply = Fetch(server.Root() + "/cookie/set");
    EXPECT_EQ(reply.receivedCookies, "a=1; b=2");
    EXPECT_NE(reply.receivedHeaders.find("Set-Cookie: a=1"), std::string::npos) << reply.receivedHeaders;
    EXPECT_EQ(LowerAscii(reply.receivedHeaders).find("set-cookie"), reply.receivedHeaders.find("Set-Cookie"));
    EXPECT_EQ(reply.receivedHeaders.substr(0, 12), "HTTP/1.1 200");

    server.ServeText("/plain.txt", "x");
    EXPECT_EQ(Fetch(server.Root() + "/plain.txt").receivedCookies, "");
}

TEST_F(FetchTest, HeadersBeyondTheBufferYieldSpacesAndNoCookies)
{
    CannedResponse big;
    // Several lines: Wine cuts a single header line at about 4 KiB.
    const std::string pad = std::string(2000, 'p') + "\r\n";
    big.headers = "X-Pad1: " + pad + "X-Pad2: " + pad + "X-Pad3: " + pad + "Set-Cookie: big=1; Path=/big/\r\n";
    big.body = "body still read";
    server.Serve("/big/headers", big);
    FetchReply reply = Fetch(server.Root() + "/big/headers");
    EXPECT_EQ(reply.body, "body still read");
    EXPECT_EQ(reply.receivedHeaders, std::string(5000, ' '));
    EXPECT_EQ(reply.receivedCookies, "");

    CannedResponse fits;
    fits.headers = "X-Pad1: " + pad + "X-Pad2: " + pad + "Set-Cookie: fit=1; Path=/big/\r\n";
    server.Serve("/big/fits", fits);
    EXPECT_EQ(Fetch(server.Root() + "/big/fits").receivedCookies, "fit=1");
}

TEST_F(FetchTest, PostSendsBodyBytesCookiesAndOwnHeaders)
{
    server.ServeText("/post", "posted");
    FetchRequest request;
    request.url = server.Root() + "/post";
    request.method = 1;
    request.bodyText = "ignored";
    request.bodyBytes = std::string("k=v\0z", 5);
    request.cookies = "sid=42";
    request.headers = "Accept: text/plain\r\nReferer: http://ref/";
    FetchReply reply = FetchUrl(request);
    EXPECT_EQ(reply.body, "posted");
    EXPECT_EQ(reply.headersSent, "Accept: text/plain\r\nReferer: http://ref/\r\n"
                                 "Accept-Language: zh-cn\r\n"
                                 "Content-Type: application/x-www-form-urlencoded\r\nCookie: sid=42");
    ASSERT_EQ(server.Requests().size(), 1u);
    RecordedRequest seen = server.Requests()[0];
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.body, std::string("k=v\0z", 5));
    EXPECT_EQ(HeaderLine(seen.raw, "Cookie"), "sid=42");
    EXPECT_EQ(HeaderLine(seen.raw, "Referer"), "http://ref/");

    server.ClearLog();
    request.bodyBytes.clear();
    request.method = 7; // out of range reads as GET: no body
    FetchUrl(request);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].method, "GET");
    EXPECT_EQ(server.Requests()[0].body, "");

    server.ClearLog();
    request.method = 1;
    FetchUrl(request);
    EXPECT_EQ(server.Requests()[0].body, "ignored");
}

TEST_F(FetchTest, UserAgentHeaderSetsTheAgent)
{
    server.ServeText("/ua", "x");
    FetchRequest request;
    request.url = server.Root() + "/ua";
    request.headers = "User-Agent: TestAgent/2.0";
    FetchUrl(request);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(server.Requests()[0].raw.find("User-Agent: TestAgent/2.0\r\n"), std::string::npos);
}

struct FetchJob {
    std::string url, body;
};

DWORD WINAPI RunFetchJob(void* p)
{
    FetchJob* job = static_cast<FetchJob*>(p);
    job->body = FetchText(job->url);
    return 0;
}

// Runs a fetch on its own thread; false when it has not returned by the
// deadline (the job is then left to the hung thread).
bool FetchReturns(const std::string& url, std::string& body, DWORD deadlineMs)
{
    FetchJob* job = new FetchJob{url, ""};
    HANDLE thread = CreateThread(NULL, 0, RunFetchJob, job, 0, NULL);
    bool done = WaitForSingleObject(thread, deadlineMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    if (done) {
        body = job->body;
        delete job;
    }
    return done;
}

TEST_F(FetchTest, SilentServerAndRefusedConnectionGiveEmptyTextInBoundedTime)
{
    CannedResponse silent;
    silent.silent = true;
    server.Serve("/silent", silent);
    std::string body = "unset";
    // Far above the 3 s time-outs, far below the minutes WinINet waits without them.
    ASSERT_TRUE(FetchReturns(server.Root() + "/silent", body, 30000));
    EXPECT_EQ(body, "");
    EXPECT_TRUE(server.WaitForRequests(1, 1000));

    // A port that was just free: nothing listens there.
    int port;
    {
        RecordingServer gone;
        port = gone.Port();
    }
    body = "unset";
    ASSERT_TRUE(FetchReturns("http://127.0.0.1:" + std::to_string(port) + "/x", body, 30000));
    EXPECT_EQ(body, "");
}

// Seconds since `start`, for the figures the tests print.
double Since(ULONGLONG start)
{
    return (GetTickCount64() - start) / 1000.0;
}

TEST_F(FetchTest, AGroupGivesUpTogetherOnceOneFetchFails)
{
    CannedResponse silent;
    silent.silent = true;
    server.Serve("/silent", silent);
    CannedResponse trickle;
    trickle.body = "0";
    trickle.trickleMs = 1000;
    server.Serve("/trickle", trickle);
    server.ServeText("/ok.txt", "ok");
    int refusedPort;
    {
        RecordingServer gone;
        refusedPort = gone.Port();
    }
    const struct {
        const char* name;
        std::string url;
    } bad[] = {
        {"accepts and never answers", server.Root() + "/silent"},
        {"one byte a second", server.Root() + "/trickle"},
        {"refuses the connection", "http://127.0.0.1:" + std::to_string(refusedPort) + "/x"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        server.ClearLog();
        FetchGroup group(kStartupFetchDeadlineMs, kStartupFetchBudgetMs);
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(FetchText(c.url, group), "");
        const double first = Since(start);
        EXPECT_TRUE(group.failed);
        // The rest of the group does not even ask.
        const size_t asked = server.Requests().size();
        EXPECT_EQ(FetchText(server.Root() + "/ok.txt", group), "");
        EXPECT_EQ(FetchText(server.Root() + "/ok.txt", group), "");
        EXPECT_EQ(server.Requests().size(), asked);
        printf("[ figures  ] %s: first fetch gave up after %.2f s, the group after %.2f s\n", c.name, first,
               Since(start));
    }

    // Error pages reach the server: the group goes on.
    server.ClearLog();
    FetchGroup group(kStartupFetchDeadlineMs, kStartupFetchBudgetMs);
    EXPECT_EQ(FetchText(server.Root() + "/missing.txt", group), "not found");
    EXPECT_EQ(FetchText(server.Root() + "/ok.txt", group), "ok");
    EXPECT_FALSE(group.failed);
    EXPECT_EQ(server.Targets(), (std::vector<std::string>{"/missing.txt", "/ok.txt"}));
    EXPECT_TRUE(RenewFetchGroup(group));
}

TEST_F(FetchTest, StartUpFetchesShareOneBudget)
{
    // A server that answers every request, each a little before a single
    // fetch would give up on it.
    CannedResponse late;
    late.body = "late";
    late.delayMs = 2900;
    const char* const files[] = {"/jy.txt", "/ver.txt", "/ChangeLog.txt", "/gg.txt", "/hy.txt"};
    for (const char* file : files)
        server.Serve(file, late);
    ASSERT_TRUE(RenewFetchGroup(Online().StartupFetches));
    const ULONGLONG start = GetTickCount64();
    std::vector<std::string> texts;
    for (const char* file : files)
        texts.push_back(FetchText(server.Root() + file, Online().StartupFetches));
    const double took = Since(start);
    printf("[ figures  ] five start-up fetches, each answered after 2.9 s: %.2f s\n", took);
    // The first answer comes within the budget, the second would come past
    // it, and the rest are not asked at all.
    EXPECT_EQ(texts, (std::vector<std::string>{"late", "", "", "", ""}));
    EXPECT_TRUE(Online().StartupFetches.failed);
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_LT(took, kStartupFetchBudgetMs / 1000.0 + 2);
}

// Runs one test of this program in a child copy with YXYT_TLS_CHILD set;
// the child's exit code, or STILL_ACTIVE when it had to be killed.
DWORD RunTestInChild(const char* filter, DWORD deadlineMs)
{
    return RunChild(ThisProgram(), std::string("--gtest_filter=") + filter, {{"YXYT_TLS_CHILD", "1"}}, deadlineMs);
}

// Ends the child copy at once, failures or not: a handshake that never
// completes leaves a WinINet thread behind that an orderly exit waits for.
struct EndChildWhenDone {
    ~EndChildWhenDone()
    {
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), ::testing::Test::HasFailure() ? 1 : 0);
    }
};

TEST_F(FetchTest, HttpsUrlSpeaksTlsToTheGivenPort)
{
    if (!getenv("YXYT_TLS_CHILD")) {
        EXPECT_EQ(RunTestInChild("FetchTest.HttpsUrlSpeaksTlsToTheGivenPort", 120000), 0u);
        return;
    }
    EndChildWhenDone end;
    // The plain server cannot finish a handshake, but what arrives on its
    // port shows the secure flag: a TLS record (0x16 = handshake, version 3.x)
    // instead of a request line. The handshake never completes; the fetch
    // still returns, empty.
    std::string body = "unset";
    ASSERT_TRUE(FetchReturns("HTTPS://127.0.0.1:" + std::to_string(server.Port()) + "/Secure.txt", body, 30000));
    EXPECT_EQ(body, "");
    ASSERT_TRUE(server.WaitForRequests(1, 20000));
    const std::string raw = server.Requests()[0].raw;
    ASSERT_GE(raw.size(), 3u);
    EXPECT_EQ(raw[0], '\x16');
    EXPECT_EQ(raw[1], '\x03');
    EXPECT_EQ(raw.find("GET "), std::string::npos);
}

} // namespace

namespace {

TEST_F(FetchTest, AHungHandshakeIsLeftBehindOnceAndBlocksTheNextRound)
{
    if (!getenv("YXYT_TLS_CHILD")) {
        EXPECT_EQ(RunTestInChild("FetchTest.AHungHandshakeIsLeftBehindOnceAndBlocksTheNextRound", 120000), 0u);
        return;
    }
    EndChildWhenDone end;
    const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/hello.txt";
    FetchGroup group(kStartupFetchDeadlineMs, kStartupFetchBudgetMs);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(FetchText(url, group), "");
    printf("[ figures  ] hung TLS handshake: fetch gave up after %.2f s\n", Since(start));
    EXPECT_TRUE(group.failed);
    ASSERT_TRUE(server.WaitForRequests(1, 20000));
    EXPECT_EQ(FetchText(url, group), "");
    // While the handshake hangs no new round starts, and nothing asks again.
    EXPECT_FALSE(RenewFetchGroup(group));
    EXPECT_TRUE(group.failed);
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(FetchTest, PeriodicChecksLeaveOneHungExchangeNotOnePerTick)
{
    if (!getenv("YXYT_TLS_CHILD")) {
        EXPECT_EQ(RunTestInChild("FetchTest.PeriodicChecksLeaveOneHungExchangeNotOnePerTick", 120000), 0u);
        return;
    }
    EndChildWhenDone end;
    SetServerRoot("https://127.0.0.1:" + std::to_string(server.Port()));
    ASSERT_TRUE(RenewFetchGroup(Online().NoticeFetches));
    const ULONGLONG start = GetTickCount64();
    RunNoticeCheck(Online().NoticeFetches);
    printf("[ figures  ] check against a hung handshake ended after %.2f s\n", Since(start));
    ASSERT_TRUE(server.WaitForRequests(1, 20000));
    // Later ticks start nothing while that exchange still hangs.
    for (int tick = 0; tick < 3; tick++)
        EXPECT_FALSE(StartNoticeCheck()) << tick;
    EXPECT_EQ(server.Requests().size(), 1u);
}

} // namespace

#include "online/http.h"

#include "core/program.h"
#include "online/url.h"
#include "ui/system_library.h"
#include "ui/window.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <memory>

namespace {

// wininet.dll is loaded at run time: the program starts even where it is missing.
struct WinInet {
    decltype(&InternetOpenA) open = nullptr;
    decltype(&InternetConnectA) connect = nullptr;
    decltype(&HttpOpenRequestA) openRequest = nullptr;
    decltype(&HttpSendRequestA) send = nullptr;
    decltype(&InternetReadFile) read = nullptr;
    decltype(&HttpQueryInfoA) queryInfo = nullptr;
    decltype(&InternetSetOptionA) setOption = nullptr;
    decltype(&InternetCloseHandle) close = nullptr;
    bool ready = false;
};

template <typename F>
void Resolve(HMODULE dll, F& function, const char* name)
{
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

const WinInet& LoadWinInet()
{
    static const WinInet api = [] {
        WinInet w;
        HMODULE dll = LoadSystemLibrary("wininet.dll");
        if (!dll)
            return w;
        Resolve(dll, w.open, "InternetOpenA");
        Resolve(dll, w.connect, "InternetConnectA");
        Resolve(dll, w.openRequest, "HttpOpenRequestA");
        Resolve(dll, w.send, "HttpSendRequestA");
        Resolve(dll, w.read, "InternetReadFile");
        Resolve(dll, w.queryInfo, "HttpQueryInfoA");
        Resolve(dll, w.setOption, "InternetSetOptionA");
        Resolve(dll, w.close, "InternetCloseHandle");
        w.ready = w.open && w.connect && w.openRequest && w.send && w.read && w.queryInfo && w.setOption && w.close;
        return w;
    }();
    return api;
}

// Wine ignores time-outs set on the Internet handle, so each connection
// and request gets its own: the fetch's deadline, so that an exchange left
// behind at the deadline mostly ends soon after.
void SetTimeouts(const WinInet& api, HINTERNET handle, DWORD ms)
{
    for (DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        api.setOption(handle, option, &ms, sizeof ms);
}

FetchReply Exchange(const FetchRequest& request, DWORD timeoutMs)
{
    FetchReply reply;
    const WinInet& api = LoadWinInet();
    if (!api.ready)
        return reply;

    const std::string& url = request.url;
    const bool https = IsHttpsUrl(url);
    const std::string agent = AgentFromHeaders(request.headers);
    const std::string proxy = ProxyForUrl(request.proxy, https);

    HINTERNET internet = proxy.empty() ? api.open(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, NULL, NULL, 0)
                                       : api.open(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), "", 0);
    if (!internet)
        return reply;
    HINTERNET connection = api.connect(internet, UrlHost(url, false).c_str(), INTERNET_PORT(UrlPort(url)), NULL, NULL,
                                       INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection) {
        api.close(internet);
        return reply;
    }
    SetTimeouts(api, connection, timeoutMs);
    const DWORD flags = RequestFlags(request.cookies.has_value(), request.noRedirect, https);
    HINTERNET req = api.openRequest(connection, MethodText(request.method), UrlObject(url).c_str(), "HTTP/1.1", NULL,
                                    NULL, flags, 0);
    if (!req) {
        api.close(connection);
        api.close(internet);
        return reply;
    }
    SetTimeouts(api, req, timeoutMs);

    reply.headersSent = CompleteRequestHeaders(request.headers, url, request.cookies.value_or(""));
    std::string& headers = reply.headersSent;
    BOOL sent;
    if (request.method == 1 || request.method == 2) {
        const std::string& body = request.bodyBytes.empty() ? request.bodyText : request.bodyBytes;
        sent =
            api.send(req, headers.c_str(), DWORD(headers.size()), const_cast<char*>(body.data()), DWORD(body.size()));
    } else {
        sent = api.send(req, headers.c_str(), DWORD(headers.size()), NULL, 0);
    }

    char chunk[1024];
    DWORD got = 0;
    BOOL readOk = TRUE;
    while (reply.body.size() < kFetchBodyCap && (readOk = api.read(req, chunk, sizeof chunk, &got)) && got > 0)
        reply.body.append(chunk, got);
    if (reply.body.size() > kFetchBodyCap)
        reply.body.resize(kFetchBodyCap);
    reply.completed = sent && readOk;

    // Headers that do not fit leave the spaces: no cookies are read then.
    char raw[5000];
    memset(raw, ' ', sizeof raw);
    DWORD rawSize = sizeof raw;
    api.queryInfo(req, HTTP_QUERY_RAW_HEADERS_CRLF, raw, &rawSize, NULL);
    reply.receivedHeaders = NormaliseSetCookie(std::string(raw, strnlen(raw, sizeof raw)));

    api.close(req);
    api.close(connection);
    api.close(internet);

    reply.receivedCookies = CollectCookies(reply.receivedHeaders);
    return reply;
}

struct FetchJob {
    FetchRequest request;
    DWORD timeoutMs;
    FetchReply reply;
};

DWORD WINAPI RunFetchJob(void* parameter)
{
    auto* held = static_cast<std::shared_ptr<FetchJob>*>(parameter);
    (*held)->reply = Exchange((*held)->request, (*held)->timeoutMs);
    delete held;
    return 0;
}

// Runs the exchange on its own thread for at most deadlineMs. The
// time-outs do not bound everything: under Wine a TLS handshake with a
// server that never answers waits forever, and a server that trickles its
// answer never lets the receive time-out fire. Past the deadline the
// exchange is left to end on its own thread, whose handle goes to
// `leftBehind` when given, and the caller gets nothing.
FetchReply FetchWithin(const FetchRequest& request, DWORD deadlineMs, HANDLE* leftBehind)
{
    auto job = std::make_shared<FetchJob>();
    job->request = request;
    job->timeoutMs = deadlineMs;
    auto* held = new std::shared_ptr<FetchJob>(job);
    HANDLE thread = CreateThread(NULL, 0, RunFetchJob, held, 0, NULL);
    if (!thread) {
        delete held;
        return Exchange(request, deadlineMs);
    }
    if (WaitAnsweringSentMessages(thread, deadlineMs)) {
        CloseHandle(thread);
        return std::move(job->reply);
    }
    if (leftBehind)
        *leftBehind = thread;
    else
        CloseHandle(thread);
    return FetchReply{};
}

} // namespace

FetchReply FetchUrl(const FetchRequest& request)
{
    return FetchWithin(request, kFetchDeadlineMs, nullptr);
}

std::string FetchText(const std::string& url)
{
    FetchRequest request;
    request.url = url;
    return TextOfBytes(FetchUrl(request).body);
}

std::string FetchText(const std::string& url, FetchGroup& group)
{
    return TextOfBytes(FetchBytes(url, group));
}

std::string FetchBytes(const std::string& url, FetchGroup& group)
{
    if (group.failed)
        return "";
    DWORD waitMs = group.deadlineMs;
    if (group.budgetMs) {
        const DWORD spent = group.spentMs;
        if (spent >= group.budgetMs) {
            group.failed = true;
            return "";
        }
        waitMs = std::min<DWORD>(waitMs, group.budgetMs - spent);
    }
    FetchRequest request;
    request.url = url;
    HANDLE leftBehind = NULL;
    const ULONGLONG start = GetTickCount64();
    FetchReply reply = FetchWithin(request, waitMs, &leftBehind);
    group.spentMs += DWORD(GetTickCount64() - start);
    if (leftBehind) {
        if (HANDLE older = group.abandoned.exchange(leftBehind))
            CloseHandle(older);
    }
    if (!reply.completed)
        group.failed = true;
    return std::move(reply.body);
}

bool RenewFetchGroup(FetchGroup& group)
{
    HANDLE left = group.abandoned.load();
    if (left) {
        if (WaitForSingleObject(left, 0) == WAIT_TIMEOUT)
            return false;
        if (group.abandoned.compare_exchange_strong(left, NULL))
            CloseHandle(left);
    }
    group.spentMs = 0;
    group.failed = false;
    return true;
}

void OpenAddressFrom(const std::string& url, FetchGroup& group)
{
    const std::string address = WebAddressIn(FetchText(url, group));
    if (!address.empty())
        OpenInBrowser(address.c_str());
}

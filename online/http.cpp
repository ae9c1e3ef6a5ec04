#include "online/http.h"

#include "app/app.h"
#include "online/url.h"

#include <windows.h>
#include <wininet.h>

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
        HMODULE dll = LoadLibraryA("wininet.dll");
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
        w.ready = w.open && w.connect && w.openRequest && w.send && w.read && w.queryInfo &&
                  w.setOption && w.close;
        return w;
    }();
    return api;
}

// Wine ignores time-outs set on the Internet handle, so each connection
// and request gets its own.
void SetTimeouts(const WinInet& api, HINTERNET handle)
{
    DWORD ms = kFetchTimeoutMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT})
        api.setOption(handle, option, &ms, sizeof ms);
}

FetchReply Exchange(const FetchRequest& request)
{
    FetchReply reply;
    const WinInet& api = LoadWinInet();
    if (!api.ready)
        return reply;

    const std::string& url = request.url;
    const bool https = IsHttpsUrl(url);
    const std::string agent = AgentFromHeaders(request.headers);
    const std::string proxy = ProxyForUrl(request.proxy, https);

    HINTERNET internet = proxy.empty()
        ? api.open(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, NULL, NULL, 0)
        : api.open(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), "", 0);
    if (!internet)
        return reply;
    HINTERNET connection = api.connect(internet, UrlHost(url, false).c_str(),
                                       INTERNET_PORT(UrlPort(url)), NULL, NULL,
                                       INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection) {
        api.close(internet);
        return reply;
    }
    SetTimeouts(api, connection);
    const DWORD flags = RequestFlags(request.cookies.has_value(), request.noRedirect, https);
    HINTERNET req = api.openRequest(connection, MethodText(request.method),
                                    UrlObject(url).c_str(), "HTTP/1.1", NULL, NULL, flags, 0);
    if (!req) {
        api.close(connection);
        api.close(internet);
        return reply;
    }
    SetTimeouts(api, req);

    reply.headersSent = CompleteRequestHeaders(request.headers, url, request.cookies.value_or(""));
    std::string& headers = reply.headersSent;
    if (request.method == 1 || request.method == 2) {
        const std::string& body = request.bodyBytes.empty() ? request.bodyText : request.bodyBytes;
        api.send(req, headers.c_str(), DWORD(headers.size()),
                 const_cast<char*>(body.data()), DWORD(body.size()));
    } else {
        api.send(req, headers.c_str(), DWORD(headers.size()), NULL, 0);
    }

    char chunk[1024];
    DWORD got = 0;
    while (reply.body.size() < kFetchBodyCap &&
           api.read(req, chunk, sizeof chunk, &got) && got > 0)
        reply.body.append(chunk, got);
    if (reply.body.size() > kFetchBodyCap)
        reply.body.resize(kFetchBodyCap);

    // Headers that do not fit leave the spaces: no cookies are read then.
    char raw[5000];
    memset(raw, ' ', sizeof raw);
    DWORD rawSize = sizeof raw;
    api.queryInfo(req, HTTP_QUERY_RAW_HEADERS_CRLF, raw, &rawSize, NULL);
    reply.receivedHeaders =
        NormaliseSetCookie(std::string(raw, strnlen(raw, sizeof raw)));

    api.close(req);
    api.close(connection);
    api.close(internet);

    reply.receivedCookies = CollectCookies(reply.receivedHeaders);
    return reply;
}

struct FetchJob {
    FetchRequest request;
    FetchReply reply;
};

DWORD WINAPI RunFetchJob(void* parameter)
{
    auto* held = static_cast<std::shared_ptr<FetchJob>*>(parameter);
    (*held)->reply = Exchange((*held)->request);
    delete held;
    return 0;
}

} // namespace

FetchReply FetchUrl(const FetchRequest& request)
{
    auto job = std::make_shared<FetchJob>();
    job->request = request;
    auto* held = new std::shared_ptr<FetchJob>(job);
    HANDLE thread = CreateThread(NULL, 0, RunFetchJob, held, 0, NULL);
    if (!thread) {
        delete held;
        return Exchange(request);
    }
    // The time-outs do not bound everything: under Wine a TLS handshake with
    // a server that never answers waits forever. Past the deadline the
    // exchange is left to end on its own thread and the caller gets nothing.
    const bool done = WaitForSingleObject(thread, kFetchDeadlineMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return done ? std::move(job->reply) : FetchReply{};
}

std::string FetchText(const std::string& url)
{
    FetchRequest request;
    request.url = url;
    return TextOfBytes(FetchUrl(request).body);
}

void OpenAddressFrom(const std::string& url)
{
    const std::string address = FetchText(url);
    if (IsWebAddress(address))
        OpenInBrowser(address.c_str());
}

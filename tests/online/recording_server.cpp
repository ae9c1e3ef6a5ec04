#include "recording_server.h"

#include <chrono>
#include <cstdlib>

RecordingServer::RecordingServer()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    stopEvent_ = CreateEventA(NULL, TRUE, FALSE, NULL);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 64);
    int size = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

RecordingServer::~RecordingServer()
{
    // Each thread closes its own socket once it sees the stop: a socket
    // shut down or closed by one thread while another uses or closes it
    // can crash the Wine server (an assertion in its socket code), which
    // leaves every process of the prefix waiting for ever.
    SetEvent(stopEvent_);
    acceptThread_.join();
    closesocket(listener_);
    std::vector<std::thread> handlers;
    {
        std::lock_guard<std::mutex> hold(lock_);
        handlers.swap(handlers_);
    }
    for (std::thread& t : handlers)
        t.join();
    CloseHandle(stopEvent_);
}

std::string RecordingServer::Root() const
{
    return "http://127.0.0.1:" + std::to_string(port_);
}

void RecordingServer::Serve(const std::string& target, const CannedResponse& response)
{
    std::lock_guard<std::mutex> hold(lock_);
    routes_[target] = response;
}

void RecordingServer::ServeText(const std::string& target, const std::string& text)
{
    CannedResponse response;
    response.body = text;
    Serve(target, response);
}

void RecordingServer::Forget(const std::string& target)
{
    std::lock_guard<std::mutex> hold(lock_);
    routes_.erase(target);
}

std::vector<RecordedRequest> RecordingServer::Requests()
{
    std::lock_guard<std::mutex> hold(lock_);
    return log_;
}

std::vector<std::string> RecordingServer::Targets()
{
    std::vector<std::string> targets;
    for (const RecordedRequest& r : Requests())
        targets.push_back(r.target);
    return targets;
}

void RecordingServer::ClearLog()
{
    std::lock_guard<std::mutex> hold(lock_);
    log_.clear();
}

bool RecordingServer::WaitForRequests(size_t count, DWORD deadlineMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    return arrived_.wait_for(hold, std::chrono::milliseconds(deadlineMs), [&] { return log_.size() >= count; });
}

bool RecordingServer::WaitForEvents(SOCKET socket, long events)
{
    WSAEVENT ready = WSACreateEvent();
    WSAEventSelect(socket, ready, events);
    const HANDLE waits[2] = {stopEvent_, ready};
    const bool happened = WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
    // The selection made the socket non-blocking; the callers read blocking.
    WSAEventSelect(socket, NULL, 0);
    u_long blocking = 0;
    ioctlsocket(socket, FIONBIO, &blocking);
    WSACloseEvent(ready);
    return happened;
}

void RecordingServer::AcceptLoop()
{
    while (WaitForEvents(listener_, FD_ACCEPT)) {
        SOCKET client = accept(listener_, NULL, NULL);
        if (client == INVALID_SOCKET)
            continue;
        std::lock_guard<std::mutex> hold(lock_);
        handlers_.emplace_back([this, client] { Handle(client); });
    }
}

int RecordingServer::Receive(SOCKET client, char* buffer, int size)
{
    return WaitForEvents(client, FD_READ | FD_CLOSE) ? recv(client, buffer, size, 0) : -1;
}

void RecordingServer::Handle(SOCKET client)
{
    std::string raw;
    char buffer[4096];
    size_t headerEnd = std::string::npos;
    size_t wanted = 0;
    for (;;) {
        if (headerEnd == std::string::npos) {
            headerEnd = raw.find("\r\n\r\n");
            if (headerEnd != std::string::npos) {
                std::string head = raw.substr(0, headerEnd);
                for (char& c : head)
                    c = char(tolower(static_cast<unsigned char>(c)));
                size_t at = head.find("\r\ncontent-length:");
                wanted = headerEnd + 4 + (at == std::string::npos ? 0 : std::atoi(head.c_str() + at + 17));
            }
        }
        if (headerEnd != std::string::npos && raw.size() >= wanted)
            break;
        // A TLS client waits for the server's hello: record what it sent.
        if (!raw.empty() && raw[0] == '\x16')
            break;
        int got = Receive(client, buffer, sizeof buffer);
        if (got <= 0)
            break;
        raw.append(buffer, got);
    }

    RecordedRequest request;
    request.raw = raw;
    size_t space = raw.find(' ');
    request.method = raw.substr(0, space);
    if (space != std::string::npos)
        request.target = raw.substr(space + 1, raw.find(' ', space + 1) - space - 1);
    if (headerEnd != std::string::npos)
        request.body = raw.substr(headerEnd + 4);

    CannedResponse response;
    response.status = 404;
    response.body = "not found";
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto route = routes_.find(request.target);
        if (route != routes_.end())
            response = route->second;
        log_.push_back(request);
    }
    arrived_.notify_all();

    if (response.silent || raw.empty() || raw[0] == '\x16' ||
        (response.delayMs && WaitForSingleObject(stopEvent_, response.delayMs) != WAIT_TIMEOUT)) {
        WaitForSingleObject(stopEvent_, INFINITE);
    } else {
        std::string reply = "HTTP/1.1 " + std::to_string(response.status) + " Canned\r\n" +
                            "Content-Length: " + std::to_string(response.body.size()) + "\r\n" +
                            "Connection: close\r\n" + response.headers + "\r\n";
        if (request.method != "HEAD")
            reply += response.body;
        bool stopped = false;
        for (size_t sent = 0; sent < reply.size();) {
            if (response.trickleMs && sent > 0 && WaitForSingleObject(stopEvent_, response.trickleMs) != WAIT_TIMEOUT) {
                stopped = true;
                break;
            }
            const int piece = response.trickleMs ? 1 : int(reply.size() - sent);
            int n = send(client, reply.data() + sent, piece, 0);
            if (n <= 0)
                break;
            sent += n;
        }
        // Drain until the client closes, so the reply is not reset; a
        // client that gave up on a trickle may keep its end open long after.
        shutdown(client, SD_SEND);
        while (!stopped && Receive(client, buffer, sizeof buffer) > 0) {
        }
    }
    closesocket(client);
}

#pragma once
// A small HTTP server for in-process tests: serves canned responses on
// 127.0.0.1, records every raw request, and can hold a connection without
// ever answering.
#include <winsock2.h>
#include <windows.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct CannedResponse {
    int status = 200;
    std::string headers; // extra header lines, each ending in CR LF
    std::string body;
    bool silent = false; // accept the request, never answer
    DWORD trickleMs = 0; // send the answer one byte every trickleMs
    DWORD delayMs = 0;   // answer whole, delayMs after the request arrived
};

struct RecordedRequest {
    std::string raw; // request line, headers and body as received
    std::string method;
    std::string target; // path and query
    std::string body;
};

class RecordingServer {
public:
    RecordingServer();
    ~RecordingServer();
    int Port() const { return port_; }
    std::string Root() const;
    void Serve(const std::string& target, const CannedResponse& response);
    void ServeText(const std::string& target, const std::string& text);
    void Forget(const std::string& target);
    std::vector<RecordedRequest> Requests();
    std::vector<std::string> Targets();
    void ClearLog();
    // Waits until at least `count` requests arrived or the deadline passed.
    bool WaitForRequests(size_t count, DWORD deadlineMs);

private:
    // Waits for `events` (FD_ACCEPT, FD_READ...) on `socket` or the stop;
    // true for the events.
    bool WaitForEvents(SOCKET socket, long events);
    // recv, or -1 once the server stops.
    int Receive(SOCKET client, char* buffer, int size);
    void AcceptLoop();
    void Handle(SOCKET client);

    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    HANDLE stopEvent_ = NULL;
    std::thread acceptThread_;
    std::vector<std::thread> handlers_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::map<std::string, CannedResponse> routes_;
    std::vector<RecordedRequest> log_;
};

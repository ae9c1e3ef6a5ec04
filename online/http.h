#pragma once
// One blocking HTTP(S) exchange over WinINet, callable from any thread.
#include <optional>
#include <string>

struct FetchRequest {
    std::string url;             // "http://" or "https://"; none reads as http
    int method = 0;              // 0 GET, 1 POST, 2 HEAD
    std::string bodyText;        // POST/HEAD body when bodyBytes is empty
    std::optional<std::string> cookies; // supplied at all: WinINet's own cookies are off
    std::string headers;         // extra request headers, CR LF separated
    bool noRedirect = false;
    std::string bodyBytes;       // POST/HEAD body, any bytes
    std::string proxy;           // "host:port"; empty = direct
};

struct FetchReply {
    std::string body;            // whole response body, error pages included
    std::string headersSent;     // the completed request header text
    std::string receivedHeaders; // raw response headers, CR LF separated
    std::string receivedCookies; // "name=value; name=value"
};

// Bounds on every exchange so a silent server cannot hold up the caller.
constexpr unsigned long kFetchTimeoutMs = 3000;
// The whole exchange, for what the time-outs above do not cover.
constexpr unsigned long kFetchDeadlineMs = 10000;
constexpr size_t kFetchBodyCap = 1u << 20;

FetchReply FetchUrl(const FetchRequest& request);
// GET with every default; the body up to its first NUL, empty on failure.
std::string FetchText(const std::string& url);
// Opens the address that the remote file `url` names, but only a web
// address: the text comes over the network and the program runs with
// administrator rights, so a local program or share is never started.
void OpenAddressFrom(const std::string& url);

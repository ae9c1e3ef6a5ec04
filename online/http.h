#pragma once
// One blocking HTTP(S) exchange over WinINet, callable from any thread.
#include <windows.h>

#include <atomic>
#include <optional>
#include <string>

struct FetchRequest {
    std::string url;                    // "http://" or "https://"; none reads as http
    int method = 0;                     // 0 GET, 1 POST, 2 HEAD
    std::string bodyText;               // POST/HEAD body when bodyBytes is empty
    std::optional<std::string> cookies; // supplied at all: WinINet's own cookies are off
    std::string headers;                // extra request headers, CR LF separated
    bool noRedirect = false;
    std::string bodyBytes; // POST/HEAD body, any bytes
    std::string proxy;     // "host:port"; empty = direct
};

struct FetchReply {
    std::string body;            // whole response body, error pages included
    std::string headersSent;     // the completed request header text
    std::string receivedHeaders; // raw response headers, CR LF separated
    std::string receivedCookies; // "name=value; name=value"
    bool completed = false;      // the server was reached and the body read to its end or the cap
};

// Bounds on the whole exchange, so that a silent or trickling server cannot
// hold up the caller; WinINet's connect, send and receive time-outs are set
// to the same value.
constexpr unsigned long kFetchDeadlineMs = 10000;
// Each fetch of a start-up, and all of them together: the user is waiting
// for the window, and a server that answers each request just in time must
// not hold it back once per file.
constexpr unsigned long kStartupFetchDeadlineMs = 3000;
constexpr unsigned long kStartupFetchBudgetMs = 4000;
constexpr size_t kFetchBodyCap = 1u << 20;

// Fetches that stand or fall together, like those of one start-up: once
// one of them cannot reach the server or runs past its deadline, or their
// waits have used up the group's budget, the later ones give the empty
// text at once instead of each waiting out a deadline.
struct FetchGroup {
    // Each fetch waits at most `deadline`; with a budget (0: none), all the
    // waits of one round together at most `budget`. Waits of fetches made
    // side by side are added up: the group gives up sooner, never later.
    explicit FetchGroup(DWORD deadline, DWORD budget = 0) : deadlineMs(deadline), budgetMs(budget) {}
    const DWORD deadlineMs;
    const DWORD budgetMs;
    std::atomic<DWORD> spentMs{0};
    std::atomic<bool> failed{false};
    // The exchange thread last left running past its deadline.
    std::atomic<HANDLE> abandoned{NULL};
};

// The waits on the exchange keep answering sent messages, so the keyboard
// hook goes on playing when the hook's own thread fetches.
FetchReply FetchUrl(const FetchRequest& request);
// GET with every default; the body up to its first NUL, empty on failure.
std::string FetchText(const std::string& url);
// The same within the group's deadline; empty at once when the group has failed.
std::string FetchText(const std::string& url, FetchGroup& group);
// The whole body, NULs and all, up to the cap, within the group's deadline.
std::string FetchBytes(const std::string& url, FetchGroup& group);
// A fresh verdict for a new round of the group's fetches; false, with the
// verdict kept, while an exchange the group left behind still runs.
bool RenewFetchGroup(FetchGroup& group);
// Opens the address that the remote file `url` names, but only a web
// address: the text comes over the network and the program runs with
// administrator rights, so a local program or share is never started.
void OpenAddressFrom(const std::string& url, FetchGroup& group);

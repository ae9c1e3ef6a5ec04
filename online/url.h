#pragma once
// The request rules of the HTTP client that need no network: the agent,
// header completion, request flags, the proxy and cookies.
// No windows.h here, so they are tested on the build machine.
#include "core/web_address.h"

#include <cstdint>
#include <string>

std::string TrimSpaces(const std::string& text);

// 0 = GET, 1 = POST, 2 = HEAD; anything else reads as GET.
const char* MethodText(int method);

constexpr const char* kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
// The agent taken from a "User-Agent:" line of the caller's headers, else the default.
std::string AgentFromHeaders(const std::string& headers);

// The caller's headers with Accept, Referer, Accept-Language, Content-Type
// and the cookies appended where missing, lines separated by CR LF.
std::string CompleteRequestHeaders(const std::string& headers, const std::string& url, const std::string& cookies);

// WinINet request flags: always from the server, never from the cache.
uint32_t RequestFlags(bool cookiesSupplied, bool noRedirect, bool https);

// The proxy text given to the Internet handle: http URLs take the
// "http=" form; empty means a direct connection.
std::string ProxyForUrl(const std::string& proxy, bool https);

// Every "Set-Cookie" in any letter case rewritten as "Set-Cookie".
std::string NormaliseSetCookie(std::string rawHeaders);
// "name=value; name=value" from the Set-Cookie lines of raw CR LF headers.
std::string CollectCookies(const std::string& rawHeaders);

// A remote text: the fetched bytes up to the first NUL.
std::string TextOfBytes(const std::string& bytes);

#include "online/url.h"

std::string TrimSpaces(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

const char* MethodText(int method)
{
    switch (method) {
    case 1:
        return "POST";
    case 2:
        return "HEAD";
    default:
        return "GET";
    }
}

std::string AgentFromHeaders(const std::string& headers)
{
    if (LowerAscii(headers).find("user-agent:") == std::string::npos)
        return kDefaultAgent;
    std::string agent;
    std::string lines = headers + "\r\n";
    size_t name = lines.find("User-Agent:");
    if (name != std::string::npos) {
        size_t start = name + 11;
        agent = TrimSpaces(lines.substr(start, lines.find("\r\n", start) - start));
    }
    if (agent.empty())
        agent = TrimSpaces(headers.substr(headers.find(':') + 1));
    return agent;
}

std::string CompleteRequestHeaders(const std::string& headers, const std::string& url, const std::string& cookies)
{
    std::string text = headers;
    if (text.empty())
        text = "Accept: */*";
    else if (text.find("Accept:") == std::string::npos)
        text += "\r\nAccept: */*";
    if (text.find("Referer:") == std::string::npos)
        text += "\r\nReferer: " + url;
    if (text.find("Accept-Language:") == std::string::npos)
        text += "\r\nAccept-Language: zh-cn";
    if (text.find("Content-Type:") == std::string::npos)
        text += "\r\nContent-Type: application/x-www-form-urlencoded";
    if (!cookies.empty()) {
        if (cookies.find("Cookie:") == std::string::npos)
            text += "\r\nCookie: " + cookies;
        else
            text += "\r\n" + cookies;
    }
    return text;
}

uint32_t RequestFlags(bool cookiesSupplied, bool noRedirect, bool https)
{
    uint32_t flags = 0x80000000u | 0x00000010u; // reload | need file
    if (cookiesSupplied)
        flags |= 0x00080000u; // no cookies
    if (noRedirect)
        flags |= 0x00200000u;     // no auto redirect
    flags |= https ? 0x00800000u  // secure
                   : 0x00004000u; // ignore redirect to https
    return flags;
}

std::string ProxyForUrl(const std::string& proxy, bool https)
{
    if (proxy.empty() || https)
        return proxy;
    return "http=" + proxy;
}

std::string NormaliseSetCookie(std::string rawHeaders)
{
    static const char kName[] = "Set-Cookie";
    const size_t length = sizeof kName - 1;
    std::string lower = LowerAscii(rawHeaders);
    for (size_t at = lower.find("set-cookie"); at != std::string::npos; at = lower.find("set-cookie", at + length))
        rawHeaders.replace(at, length, kName);
    return rawHeaders;
}

std::string CollectCookies(const std::string& rawHeaders)
{
    static const std::string kName = "Set-Cookie:";
    std::string cookies;
    size_t start = 0;
    while (start <= rawHeaders.size()) {
        size_t end = rawHeaders.find("\r\n", start);
        if (end == std::string::npos)
            end = rawHeaders.size();
        std::string line = rawHeaders.substr(start, end - start);
        start = end + 2;
        size_t name = line.find(kName);
        // A line that only mentions the name (no "Set-Cookie:") sets nothing.
        if (name == std::string::npos)
            continue;
        std::string taken;
        if (line.find(';') == std::string::npos) {
            for (size_t at; (at = line.find(kName)) != std::string::npos;)
                line.erase(at, kName.size());
            taken = TrimSpaces(line);
        } else {
            size_t value = name + kName.size();
            size_t semicolon = line.find(';', value);
            taken =
                TrimSpaces(semicolon == std::string::npos ? line.substr(value) : line.substr(value, semicolon - value));
        }
        cookies += taken + "; ";
    }
    if (cookies.size() >= 2)
        cookies.erase(cookies.size() - 2);
    return cookies;
}

std::string TextOfBytes(const std::string& bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

#include "online/url.h"

#include <cstdlib>

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::string TrimSpaces(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool IsHttpsUrl(const std::string& url)
{
    return LowerAscii(url.substr(0, 8)) == "https://";
}

std::string UrlHost(const std::string& url, bool keepPort)
{
    std::string lower = LowerAscii(url);
    if (lower.empty() || lower.back() != '/')
        lower += '/';
    std::string host;
    if (lower.compare(0, 8, "https://") == 0) {
        host = lower.substr(8, lower.find('/', 8) - 8);
    } else {
        if (lower.find("http://") == std::string::npos)
            lower = "http://" + lower;
        size_t start = lower.find("http://") + 7;
        host = lower.substr(start, lower.find('/', start) - start);
    }
    if (!keepPort) {
        size_t colon = host.find(':');
        if (colon != std::string::npos)
            host.erase(colon);
    }
    return host;
}

int UrlPort(const std::string& url)
{
    std::string host = UrlHost(url, true);
    size_t colon = host.rfind(':');
    if (colon != std::string::npos)
        return std::atoi(host.c_str() + colon + 1);
    return LowerAscii(url.substr(0, 5)) == "https" ? 443 : 80;
}

std::string UrlObject(const std::string& url)
{
    std::string host = UrlHost(url, false);
    size_t at = LowerAscii(url).find(host);
    if (at == std::string::npos)
        return "/";
    size_t slash = url.find('/', at);
    return slash == std::string::npos ? "/" : url.substr(slash);
}

bool IsWebAddress(const std::string& text)
{
    std::string lower = LowerAscii(text.substr(0, 8));
    if (lower.compare(0, 7, "http://") != 0 && lower != "https://")
        return false;
    // Whoever gets the address next may quote it or split it at a space.
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F || c == ' ' || c == '"' || c == '\'')
            return false;
    return true;
}

std::string UpdateServerRoot(const std::string& configured)
{
    std::string root = configured;
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    if (!IsWebAddress(root) || UrlHost(root, false).empty())
        return "";
    return root;
}

const char* MethodText(int method)
{
    switch (method) {
    case 1: return "POST";
    case 2: return "HEAD";
    default: return "GET";
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

std::string CompleteRequestHeaders(const std::string& headers, const std::string& url,
                                   const std::string& cookies)
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
        flags |= 0x00200000u; // no auto redirect
    flags |= https ? 0x00800000u   // secure
                   : 0x00004000u;  // ignore redirect to https
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
    for (size_t at = lower.find("set-cookie"); at != std::string::npos;
         at = lower.find("set-cookie", at + length))
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
            taken = TrimSpaces(semicolon == std::string::npos
                                   ? line.substr(value)
                                   : line.substr(value, semicolon - value));
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

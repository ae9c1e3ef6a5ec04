#include "core/web_address.h"

#include <cstdlib>

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
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

std::string WebAddressIn(const std::string& text)
{
    static const char kSpace[] = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(kSpace);
    if (first == std::string::npos)
        return "";
    const std::string address = text.substr(first, text.find_last_not_of(kSpace) - first + 1);
    return IsWebAddress(address) ? address : "";
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

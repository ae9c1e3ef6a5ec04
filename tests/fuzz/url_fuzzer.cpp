// Fuzzes the request rules of the HTTP client with arbitrary URLs and
// header texts; besides memory errors it checks what must hold for any input.
#include "online/url.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string host = UrlHost(text, false);
    if (host.find(':') != std::string::npos || host.find('/') != std::string::npos)
        std::abort();
    if (host != LowerAscii(host))
        std::abort();
    const std::string object = UrlObject(text);
    if (object.empty() || object[0] != '/')
        std::abort();
    UrlPort(text);

    const std::string headers = CompleteRequestHeaders(text, "http://h/", "c=1");
    for (const char* name : {"Accept:", "Referer:", "Accept-Language:", "Content-Type:", "Cookie:"})
        if (headers.find(name) == std::string::npos)
            std::abort();
    AgentFromHeaders(text);

    const std::string normal = NormaliseSetCookie(text);
    if (normal.size() != text.size() || LowerAscii(normal) != LowerAscii(text))
        std::abort();
    const std::string cookies = CollectCookies(normal);
    if (cookies.size() >= 2 && cookies.compare(cookies.size() - 2, 2, "; ") == 0 &&
        normal.find("Set-Cookie:") == std::string::npos)
        std::abort();
    if (TextOfBytes(text).find('\0') != std::string::npos)
        std::abort();
    return 0;
}

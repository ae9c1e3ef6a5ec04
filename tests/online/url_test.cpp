// Request rules of the HTTP client against tables written out by hand.
#include "online/url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct UrlCase {
    const char* url;
    const char* host;
    const char* hostWithPort;
    int port;
    const char* object;
    bool https;
};

const UrlCase kUrls[] = {
    {"http://example.com/a/b.txt", "example.com", "example.com", 80, "/a/b.txt", false},
    {"HTTP://Example.COM/Path/File.TXT?Q=Ab", "example.com", "example.com", 80, "/Path/File.TXT?Q=Ab", false},
    {"https://Example.com:8443/Ver.txt?x=Y", "example.com", "example.com:8443", 8443, "/Ver.txt?x=Y", true},
    {"HTTPS://secure.example.org/", "secure.example.org", "secure.example.org", 443, "/", true},
    {"https://secure.example.org", "secure.example.org", "secure.example.org", 443, "/", true},
    {"http://127.0.0.1:8960/YXProgect/yxyt/ver.txt", "127.0.0.1", "127.0.0.1:8960", 8960, "/YXProgect/yxyt/ver.txt",
     false},
    // No scheme: plain http, host up to the first "/".
    {"example.com/Dir/x.txt", "example.com", "example.com", 80, "/Dir/x.txt", false},
    {"example.com", "example.com", "example.com", 80, "/", false},
    {"host:81", "host", "host:81", 81, "/", false},
    {"http://host", "host", "host", 80, "/", false},
    {"http://host:8080", "host", "host:8080", 8080, "/", false},
    // The host's text appears again in the path: the object starts at the first "/" after the host.
    {"http://a.com/a.com/A.COM", "a.com", "a.com", 80, "/a.com/A.COM", false},
};

TEST(Url, DissectsHostPortAndObject)
{
    for (const UrlCase& c : kUrls) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(UrlHost(c.url, false), c.host);
        EXPECT_EQ(UrlHost(c.url, true), c.hostWithPort);
        EXPECT_EQ(UrlPort(c.url), c.port);
        EXPECT_EQ(UrlObject(c.url), c.object);
        EXPECT_EQ(IsHttpsUrl(c.url), c.https);
    }
}

TEST(Url, WebAddressesAreOnlyHttpAndHttps)
{
    for (const char* yes : {"http://a", "https://a/b", "HTTP://A", "HtTpS://x.y/z?q", "http://"})
        EXPECT_TRUE(IsWebAddress(yes)) << yes;
    for (const char* no :
         {"", "http:/a", "https:a", "file:///c:/x", "C:\\Windows\\notepad.exe", "calc.exe", " http://a", "mailto:x@y",
          "ftp://a", "javascript:alert(1)", "\\\\server\\share\\x.exe", "httpx://a"})
        EXPECT_FALSE(IsWebAddress(no)) << no;
}

TEST(Url, WebAddressesHoldNoControlsSpacesOrQuotes)
{
    // Each of these could end the address early where it is quoted or
    // passed on as a command line, or split a header line.
    const std::string refused[] = {"http://a b/",  "http://a/b c",  "https://a/\tx", "http://a/\r\nX: y",
                                   "http://a/\n",  "http://a/\x01", "http://a/\x7f", "http://a/\x1f",
                                   "http://a/\"x", "https://a/'x",  "http://a/x\"",  std::string("http://a/\0b", 10)};
    for (const std::string& no : refused)
        EXPECT_FALSE(IsWebAddress(no)) << no;
    // Bytes of GBK and UTF-8 texts are not control characters.
    for (const char* yes : {"http://h/\xd6\xd0\xce\xc4.txt", "https://h/%20a?b=c&d=~e#f", "http://h/\xe4\xb8\xad"})
        EXPECT_TRUE(IsWebAddress(yes)) << yes;
}

TEST(Url, UpdateServerRootIsAWebAddressWithAHost)
{
    const struct {
        const char* configured;
        const char* root;
    } cases[] = {
        {"http://127.0.0.1:8960", "http://127.0.0.1:8960"},
        {"http://127.0.0.1:8960/", "http://127.0.0.1:8960"},
        {"HTTPS://Updates.Example.com//", "HTTPS://Updates.Example.com"},
        {"https://h/mirror", "https://h/mirror"},
        // No server: nothing, garbage, another scheme, a share, no host, hostile text.
        {"", ""},
        {"none", ""},
        {"127.0.0.1:8960", ""},
        {"ftp://h", ""},
        {"file:///C:/x", ""},
        {"\\\\host\\share", ""},
        {"http://", ""},
        {"https:///", ""},
        {"http:///x", ""},
        {"http://:80", ""},
        {"http://h x", ""},
        {"http://h\"&calc", ""},
        {" http://h", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UpdateServerRoot(c.configured), c.root) << c.configured;
}

TEST(Url, MethodTextAndFlags)
{
    EXPECT_STREQ(MethodText(0), "GET");
    EXPECT_STREQ(MethodText(1), "POST");
    EXPECT_STREQ(MethodText(2), "HEAD");
    EXPECT_STREQ(MethodText(3), "GET");
    EXPECT_STREQ(MethodText(-1), "GET");

    // Values of the WinINet flags: reload 0x80000000, need file 0x10,
    // no cookies 0x80000, no auto redirect 0x200000, secure 0x800000,
    // ignore redirect to https 0x4000.
    EXPECT_EQ(RequestFlags(false, false, false), 0x80004010u);
    EXPECT_EQ(RequestFlags(false, false, true), 0x80800010u);
    EXPECT_EQ(RequestFlags(true, false, false), 0x80084010u);
    EXPECT_EQ(RequestFlags(false, true, false), 0x80204010u);
    EXPECT_EQ(RequestFlags(true, true, true), 0x80A80010u);
}

TEST(Url, ProxyTextDependsOnScheme)
{
    EXPECT_EQ(ProxyForUrl("", false), "");
    EXPECT_EQ(ProxyForUrl("", true), "");
    EXPECT_EQ(ProxyForUrl("10.0.0.1:3128", false), "http=10.0.0.1:3128");
    EXPECT_EQ(ProxyForUrl("10.0.0.1:3128", true), "10.0.0.1:3128");
}

TEST(Agent, DefaultWithoutUserAgentHeader)
{
    EXPECT_EQ(AgentFromHeaders(""), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
    EXPECT_EQ(AgentFromHeaders("Accept: text/html\r\nX-Agent: no"), kDefaultAgent);
}

TEST(Agent, TakenFromTheHeaderLine)
{
    EXPECT_EQ(AgentFromHeaders("User-Agent:   Foo/1.0  "), "Foo/1.0");
    EXPECT_EQ(AgentFromHeaders("Accept: */*\r\nUser-Agent: Bar 2\r\nReferer: x"), "Bar 2");
    // Other letter case: the exact-case search finds nothing, so the text
    // after the first ":" of the whole header text is the agent.
    EXPECT_EQ(AgentFromHeaders("user-agent: Low"), "Low");
    EXPECT_EQ(AgentFromHeaders("Accept: a\r\nuser-agent: Low"), "a\r\nuser-agent: Low");
    // An empty exact-case value falls back the same way.
    EXPECT_EQ(AgentFromHeaders("X: y\r\nUser-Agent:  \r\nZ: w"), "y\r\nUser-Agent:  \r\nZ: w");
}

TEST(Headers, DefaultsInOrder)
{
    EXPECT_EQ(CompleteRequestHeaders("", "http://h/x.txt", ""), "Accept: */*\r\n"
                                                                "Referer: http://h/x.txt\r\n"
                                                                "Accept-Language: zh-cn\r\n"
                                                                "Content-Type: application/x-www-form-urlencoded");
}

TEST(Headers, OnlyMissingNamesAreAppended)
{
    EXPECT_EQ(CompleteRequestHeaders("Accept: text/plain\r\nReferer: r", "http://h/", ""),
              "Accept: text/plain\r\nReferer: r\r\n"
              "Accept-Language: zh-cn\r\n"
              "Content-Type: application/x-www-form-urlencoded");
    EXPECT_EQ(CompleteRequestHeaders("X-A: 1", "u", ""),
              "X-A: 1\r\nAccept: */*\r\nReferer: u\r\nAccept-Language: zh-cn\r\n"
              "Content-Type: application/x-www-form-urlencoded");
    const char* full = "Accept: a\r\nReferer: b\r\nAccept-Language: en\r\nContent-Type: text/plain";
    EXPECT_EQ(CompleteRequestHeaders(full, "u", ""), full);
    // Names are searched in their exact case.
    EXPECT_EQ(CompleteRequestHeaders("accept: a", "u", ""),
              "accept: a\r\nAccept: */*\r\nReferer: u\r\nAccept-Language: zh-cn\r\n"
              "Content-Type: application/x-www-form-urlencoded");
}

TEST(Headers, CookiesAppendedLast)
{
    const std::string base = "Accept: */*\r\nReferer: u\r\nAccept-Language: zh-cn\r\n"
                             "Content-Type: application/x-www-form-urlencoded";
    EXPECT_EQ(CompleteRequestHeaders("", "u", "a=1; b=2"), base + "\r\nCookie: a=1; b=2");
    EXPECT_EQ(CompleteRequestHeaders("", "u", "Cookie: a=1"), base + "\r\nCookie: a=1");
}

TEST(Cookies, SetCookieInAnyCaseIsNormalised)
{
    EXPECT_EQ(NormaliseSetCookie("HTTP/1.1 200 OK\r\nSET-COOKIE: a=1\r\nset-cookie: b=2\r\nSeT-CoOkIe: c=3"),
              "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\nSet-Cookie: c=3");
    EXPECT_EQ(NormaliseSetCookie("X: set-cookieset-cookie"), "X: Set-CookieSet-Cookie");
    EXPECT_EQ(NormaliseSetCookie("no cookies"), "no cookies");
}

TEST(Cookies, CollectedFromSetCookieLines)
{
    EXPECT_EQ(CollectCookies("HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n"), "a=1; b=2");
    EXPECT_EQ(CollectCookies("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n"), "");
    EXPECT_EQ(CollectCookies(""), "");
    EXPECT_EQ(CollectCookies(std::string(5000, ' ')), "");
    EXPECT_EQ(CollectCookies("Set-Cookie:   sid=ab c ;HttpOnly"), "sid=ab c");
    EXPECT_EQ(CollectCookies("Set-Cookie:x=1;a;b\r\nSet-Cookie: y=2 \r\nSet-Cookie: z=3; Max-Age=9"), "x=1; y=2; z=3");
    // A cookie without value is still taken, as written.
    EXPECT_EQ(CollectCookies("Set-Cookie: flag\r\nSet-Cookie: k=v"), "flag; k=v");
    // Only lines with "Set-Cookie:" set a cookie.
    EXPECT_EQ(CollectCookies("X-Note: Set-Cookie is sent below; honest\r\nSet-Cookie: q=1"), "q=1");
    // The whole pipeline on a header block in mixed case.
    EXPECT_EQ(CollectCookies(NormaliseSetCookie("HTTP/1.1 200 OK\r\nSET-COOKIE: A=1; Path=/\r\n"
                                                "set-cookie: B=2\r\n\r\n")),
              "A=1; B=2");
}

TEST(RemoteText, EndsAtFirstNul)
{
    EXPECT_EQ(TextOfBytes(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(TextOfBytes(std::string("\0x", 2)), "");
    EXPECT_EQ(TextOfBytes("1.1.0.0"), "1.1.0.0");
    EXPECT_EQ(TextOfBytes(""), "");
}

} // namespace

// Request rules of the HTTP client against tables written out by hand.
#include "online/url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

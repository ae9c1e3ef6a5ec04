// What a web address is made of and which texts pass as one, against
// tables written out by hand.
#include "core/web_address.h"

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

TEST(WebAddress, DissectsHostPortAndObject)
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

TEST(WebAddress, WebAddressesAreOnlyHttpAndHttps)
{
    for (const char* yes : {"http://a", "https://a/b", "HTTP://A", "HtTpS://x.y/z?q", "http://"})
        EXPECT_TRUE(IsWebAddress(yes)) << yes;
    for (const char* no :
         {"", "http:/a", "https:a", "file:///c:/x", "C:\\Windows\\notepad.exe", "calc.exe", " http://a", "mailto:x@y",
          "ftp://a", "javascript:alert(1)", "\\\\server\\share\\x.exe", "httpx://a"})
        EXPECT_FALSE(IsWebAddress(no)) << no;
}

TEST(WebAddress, WebAddressesHoldNoControlsSpacesOrQuotes)
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

TEST(WebAddress, RemoteTextNamesAnAddressWithoutTheSpaceAroundIt)
{
    const struct {
        const char* text;
        const char* address;
    } cases[] = {
        {"http://h/download", "http://h/download"},
        {"http://h/download\r\n", "http://h/download"},
        {"https://h/p?q=1 \t\n", "https://h/p?q=1"},
        {"\r\n  http://h/x\r\n\r\n", "http://h/x"},
        {"\vhttp://h/\f", "http://h/"},
        // What is inside stays refused, and nothing becomes an address by trimming.
        {"http://h/a b\r\n", ""},
        {"http://h/a\r\nb", ""},
        {"yxtest:page\r\n", ""},
        {" C:\\Windows\\notepad.exe ", ""},
        {"\r\n", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WebAddressIn(c.text), c.address) << c.text;
}

TEST(WebAddress, UpdateServerRootIsAWebAddressWithAHost)
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

} // namespace

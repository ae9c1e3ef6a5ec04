#pragma once
// What a web address is made of, and which texts the program accepts as
// one: the update server's base, the home page, a notice's link. No
// windows.h here, so the rules are tested on the build machine.
#include <string>

std::string LowerAscii(std::string text);

// "https://" in any letter case at the very start.
bool IsHttpsUrl(const std::string& url);
// Host (lower-cased) of a URL with or without scheme; keepPort leaves ":port" on.
std::string UrlHost(const std::string& url, bool keepPort);
// Explicit port, else 443 for https and 80 otherwise.
int UrlPort(const std::string& url);
// Path and query as written, "/" when the URL ends at the host.
std::string UrlObject(const std::string& url);

// The only addresses the program hands to the shell: web pages.
bool IsWebAddress(const std::string& text);
// The web address a remote text names: the text without the spaces, tabs
// and line breaks around it, which a publisher's editor easily leaves;
// empty unless what remains is a web address.
std::string WebAddressIn(const std::string& text);

// The update server's base address (scheme, host, maybe a folder) without
// trailing "/"; empty, meaning no server, unless the configured text is a
// web address with a host.
std::string UpdateServerRoot(const std::string& configured);

#pragma once
// ASCII letters folded to upper case, whatever the locale: names of files
// and keys are compared this way, and a GBK byte or a UTF-16 unit outside
// a..z stays as it is.

inline char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

inline char16_t UpperAscii(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? (char16_t)(c - u'a' + u'A') : c;
}

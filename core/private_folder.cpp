#include "core/private_folder.h"

#include <windows.h>

#include <ntsecapi.h>
#include <sddl.h>

std::string MakePrivateFolder()
{
    char temp[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp)
        return "";
    unsigned char random[8];
    if (!RtlGenRandom(random, sizeof random))
        return "";
    std::string folder(temp, length);
    if (folder.back() != '\\')
        folder += '\\';
    folder += "yxyt-";
    for (unsigned char byte : random)
        folder += "0123456789abcdef"[byte >> 4], folder += "0123456789abcdef"[byte & 15];
    SECURITY_ATTRIBUTES security = {sizeof security, NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
                                                              &security.lpSecurityDescriptor, NULL))
        return "";
    BOOL made = CreateDirectoryA(folder.c_str(), &security);
    LocalFree(security.lpSecurityDescriptor);
    return made ? folder + "\\" : "";
}

#include "drumpad/folder_deletion.h"

#include "core/program.h"
#include "ui/window.h"

#include <winternl.h>

#include <cstdint>
#include <vector>

#ifndef FILE_OPEN_REPARSE_POINT
#define FILE_OPEN_REPARSE_POINT 0x00200000
#endif

namespace {

// Each level of nesting holds a handle and a listing: a folder deeper
// than this is left in place.
constexpr int kMaxDepth = 64;
constexpr DWORD kListingBytes = 64 * 1024;

void (*Probe)(const std::string&) = nullptr;

// Win32 opens nothing relative to a folder's handle; the native call does.
// Looked up in ntdll at run time: the native layer is no part of the
// Win32 contract the program links against.
using NtOpenFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);
using NtStatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);

struct NativeCalls {
    NtOpenFileFn openFile = nullptr;
    NtStatusToErrorFn toError = nullptr;
};

const NativeCalls& Native()
{
    static const NativeCalls calls = [] {
        NativeCalls c;
        if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
            c.openFile = reinterpret_cast<NtOpenFileFn>(GetProcAddress(ntdll, "NtOpenFile"));
            c.toError = reinterpret_cast<NtStatusToErrorFn>(GetProcAddress(ntdll, "RtlNtStatusToDosError"));
        }
        return c;
    }();
    return calls;
}

// An entry as its folder listed it.
struct Entry {
    std::wstring name;
    uint64_t id;
    DWORD attributes;
};

std::string Narrow(const std::wstring& wide)
{
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), (int)wide.size(), NULL, 0, NULL, NULL);
    std::string text(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), (int)wide.size(), &text[0], n, NULL, NULL);
    return text;
}

// Every entry of the held folder but "." and "..", listed once before any
// is deleted. False when it cannot be listed.
bool ListEntries(HANDLE folder, std::vector<Entry>* entries)
{
    std::vector<uint64_t> buffer(kListingBytes / sizeof(uint64_t));
    FILE_INFO_BY_HANDLE_CLASS from = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, from, buffer.data(), kListingBytes)) {
        from = FileIdBothDirectoryInfo;
        const char* at = reinterpret_cast<const char*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries->push_back({name, (uint64_t)info->FileId.QuadPart, info->FileAttributes});
            if (!info->NextEntryOffset)
                break;
            at += info->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// The entry `name` of the held folder, by that handle and not by a path,
// and the entry itself where it is a link. Nobody else may rename or
// delete it while it is held. Null with the system's error code when it
// cannot be opened.
HANDLE OpenEntry(HANDLE folder, const Entry& entry, DWORD* error)
{
    if (!Native().openFile) {
        *error = ERROR_PROC_NOT_FOUND;
        return NULL;
    }
    UNICODE_STRING name;
    name.Buffer = const_cast<PWSTR>(entry.name.c_str());
    name.Length = name.MaximumLength = (USHORT)(entry.name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES where;
    InitializeObjectAttributes(&where, &name, OBJ_CASE_INSENSITIVE, folder, NULL);
    IO_STATUS_BLOCK io = {};
    ACCESS_MASK access = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)
        access |= FILE_LIST_DIRECTORY;
    HANDLE held = NULL;
    const NTSTATUS status =
        Native().openFile(&held, access, &where, &io, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT);
    if (status >= 0)
        return held;
    *error = Native().toError ? Native().toError(status) : ERROR_ACCESS_DENIED;
    return NULL;
}

// What a handle holds against what the listing said was there.
enum class Held {
    Entry, // the entry listed
    Link,  // the entry listed, a link, held as the link
    Other, // something else: swapped since the listing, or what a link leads to
};

// Wine 8 follows a link whatever the open asks, and lists a Unix symbolic
// link as a reparse point with the file id of what it leads to: a link
// listed as one but held as a plain entry was followed.
Held WhatIsHeld(HANDLE held, const Entry& entry)
{
    BY_HANDLE_FILE_INFORMATION info;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandle(held, &info) ||
        !GetFileInformationByHandleEx(held, FileAttributeTagInfo, &tag, sizeof tag))
        return Held::Other;
    const uint64_t id = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    const bool listedLink = (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const bool heldLink = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (id != entry.id || listedLink != heldLink)
        return Held::Other;
    return heldLink ? Held::Link : Held::Entry;
}

// A read-only entry cannot be deleted: the mark goes first.
void ClearReadOnly(HANDLE held)
{
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(held, FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return;
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (!basic.FileAttributes)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    // Zero times are left as they are.
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    SetFileInformationByHandle(held, FileBasicInfo, &basic, sizeof basic);
}

// Deleted when the last handle closes; the system's error code, else 0.
DWORD MarkForDeletion(HANDLE held)
{
    ClearReadOnly(held);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(held, FileDispositionInfo, &disposition, sizeof disposition) ? 0 : GetLastError();
}

void SayNotDeleted(const std::string& path)
{
    ShowMessage(Program().MainWindow.GetHandle(), "在尝试删除" + path + "时发生错误，请您手工删除这个文件", "错误！",
                MB_ICONERROR);
}

// What became of a folder's entries, or of one of them.
enum class Outcome { Deleted, SomeLeft, Changed };

Outcome DeleteEntries(HANDLE folder, const std::string& path, int depth);

Outcome DeleteEntry(HANDLE folder, const Entry& entry, const std::string& path, int depth)
{
    DWORD error = 0;
    HANDLE held = OpenEntry(folder, entry, &error);
    if (!held) {
        // Gone since the listing: nothing of it is left to delete.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return Outcome::Deleted;
        SayNotDeleted(path);
        return Outcome::SomeLeft;
    }
    const Held what = WhatIsHeld(held, entry);
    Outcome inside = what == Held::Other ? Outcome::Changed : Outcome::Deleted;
    if (what == Held::Entry && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (depth >= kMaxDepth) {
            CloseHandle(held);
            SayNotDeleted(path);
            return Outcome::SomeLeft;
        }
        inside = DeleteEntries(held, path, depth + 1);
    }
    if (inside == Outcome::Changed) {
        CloseHandle(held);
        return inside;
    }
    error = MarkForDeletion(held);
    CloseHandle(held);
    if (!error)
        return Outcome::Deleted;
    // A folder that something stayed in has been told of already.
    if (inside == Outcome::Deleted)
        SayNotDeleted(path);
    return Outcome::SomeLeft;
}

Outcome DeleteEntries(HANDLE folder, const std::string& path, int depth)
{
    std::vector<Entry> entries;
    if (!ListEntries(folder, &entries)) {
        SayNotDeleted(path);
        return Outcome::SomeLeft;
    }
    Outcome all = Outcome::Deleted;
    for (const Entry& entry : entries) {
        const std::string entryPath = path + "\\" + Narrow(entry.name);
        if (Probe)
            Probe(entryPath);
        const Outcome one = DeleteEntry(folder, entry, entryPath, depth);
        if (one == Outcome::Changed)
            return one;
        if (one == Outcome::SomeLeft)
            all = one;
        // Every box and message dispatched is a wait in which another
        // program could swap what comes next: each entry is checked anew.
        PumpMessages();
    }
    return all;
}

} // namespace

HANDLE OpenHeldFolder(const std::string& path)
{
    std::string folder = path;
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return CreateFileA(folder.c_str(),
                       DELETE | SYNCHRONIZE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

TreeDeletion DeleteHeldFolder(HANDLE folder, const std::string& path)
{
    std::string shown = path;
    if (!shown.empty() && shown.back() == '\\')
        shown.pop_back();
    switch (DeleteEntries(folder, shown, 0)) {
    case Outcome::Changed:
        return TreeDeletion::Changed;
    case Outcome::SomeLeft:
        return TreeDeletion::Incomplete;
    case Outcome::Deleted:
        break;
    }
    return MarkForDeletion(folder) ? TreeDeletion::Incomplete : TreeDeletion::Deleted;
}

void SetDeletionProbe(void (*probe)(const std::string& entryPath))
{
    Probe = probe;
}

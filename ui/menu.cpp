#include "ui/menu.h"

#include <vector>

namespace {

UINT ByFlag(bool byPosition)
{
    return byPosition ? MF_BYPOSITION : MF_BYCOMMAND;
}

} // namespace

int Menu::CreateMenuBar()
{
    if (handle_)
        return 0;
    handle_ = CreateMenu();
    return handle_ ? 1 : 0;
}

int Menu::CreatePopup()
{
    if (handle_)
        return 0;
    handle_ = CreatePopupMenu();
    return handle_ ? 1 : 0;
}

int Menu::AppendSubMenu(const Menu& sub, const char* text)
{
    return AppendMenuA(handle_, MF_POPUP | MF_BYPOSITION, (UINT_PTR)sub.GetHandle(), text) ? 1 : 0;
}

int Menu::AttachToWindow(HWND window)
{
    BOOL ok = SetMenu(window, handle_);
    DrawMenuBar(window);
    return ok ? 1 : 0;
}

int Menu::AppendItem(const char* text, int32_t id)
{
    return AppendMenuA(handle_, MF_STRING, (UINT_PTR)(uint32_t)id, text) ? 1 : 0;
}

std::string Menu::GetItemText(UINT item, bool byPosition) const
{
    int n = GetMenuStringA(handle_, item, NULL, 0, ByFlag(byPosition));
    if (n <= 0)
        return "";
    std::vector<char> buf(n + 1);
    int got = GetMenuStringA(handle_, item, buf.data(), n + 1, ByFlag(byPosition));
    return std::string(buf.data(), got > 0 ? got : 0);
}

int Menu::RemoveItem(UINT item, bool byPosition)
{
    return RemoveMenu(handle_, item, ByFlag(byPosition)) ? 1 : 0;
}

int Menu::SetItemText(UINT item, const std::string& text, bool byPosition)
{
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = copy.data();
    return SetMenuItemInfoA(handle_, item, byPosition, &info) ? 1 : 0;
}

int Menu::SetItemState(UINT item, UINT state, bool byPosition)
{
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    info.fState = state;
    return SetMenuItemInfoA(handle_, item, byPosition, &info) ? 1 : 0;
}

#pragma once
// One Win32 menu handle with the menu calls the program needs. Items are
// addressed by command id unless byPosition is set.
#include <windows.h>

#include <cstdint>
#include <string>

class Menu {
public:
    HMENU GetHandle() const { return handle_; }
    // 1 when a handle was made; 0 when the object already had one.
    int CreateMenuBar();
    int CreatePopup();
    int AppendSubMenu(const Menu& sub, const char* text);
    // Puts the bar on the window and redraws the bar, even if SetMenu failed.
    int AttachToWindow(HWND window);
    int AppendItem(const char* text, int32_t id);
    std::string GetItemText(UINT item, bool byPosition = false) const;
    int RemoveItem(UINT item, bool byPosition = false);
    int SetItemText(UINT item, const std::string& text, bool byPosition = false);
    // Replaces the whole state: MFS_CHECKED (8) shows a check mark, 0 clears it.
    int SetItemState(UINT item, UINT state, bool byPosition = false);

private:
    HMENU handle_ = NULL;
};

#include "ui/label.h"

int Label::CreateLabel(HWND parent, const std::string& text, DWORD extraStyle, int x, int y, int width, int height,
                       DWORD exStyle)
{
    DWORD style = WS_CHILD | WS_VISIBLE | SS_NOTIFY | extraStyle;
    controlId_ = NextControlId();
    HWND label = CreateWindowExA(exStyle, "Static", text.c_str(), style | WS_CLIPSIBLINGS, x, y, width, height, parent,
                                 (HMENU)(INT_PTR)controlId_, ModuleHandle(), NULL);
    if (!label)
        return 0;
    Adopt(label);

    // An opaque label: black text on the button face, no transparency.
    SetBackgroundColour(GetSysColor(COLOR_BTNFACE), false);
    LONG ex = GetWindowLongA(label, GWL_EXSTYLE);
    SetWindowLongA(label, GWL_EXSTYLE, ex & ~WS_EX_TRANSPARENT);
    SetWindowPos(label, NULL, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    return 1;
}

std::string Label::LabelText() const
{
    return WindowText(handle_);
}

void Label::LabelText(const std::string& text)
{
    SetWindowTextA(handle_, text.c_str());
}

LRESULT Label::ColorControl(HDC dc)
{
    if (!backgroundBrush_)
        return 0;
    SetTextColor(dc, textColour_);
    SetBkColor(dc, backgroundColour_);
    return (LRESULT)backgroundBrush_;
}

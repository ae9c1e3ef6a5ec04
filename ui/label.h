#pragma once
// A static text control, the main window's only child.
#include "ui/window.h"

class Label : public WindowObject {
public:
    // 1 on success. The control id comes from the framework's counter.
    int CreateLabel(HWND parent, const std::string& text, DWORD extraStyle, int x, int y, int width, int height,
                    DWORD exStyle = 0);
    std::string LabelText() const;
    void LabelText(const std::string& text);
    int ControlId() const { return controlId_; }

    LRESULT ColorControl(HDC dc) override;

private:
    COLORREF textColour_ = 0;
    int controlId_ = 0;
};

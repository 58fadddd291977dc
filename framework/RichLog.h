// A read-only colour log over the rich-edit control. The control's library is
// loaded at run time (there is no import library for it in the toolchain).
#pragma once
#include "framework/Controls.h"
#include <string>

namespace krv {

class TRichLog : public TWinControl {
public:
    explicit TRichLog(TComponent* owner = nullptr);
    // Appends one line (or several, "\r\n" between them) in a colour and scrolls to it.
    void AddLine(const std::string& text, TColor color);
    void Clear();
    int LineCount();
    std::string Line(int index);
    // The colour of the first character of a line.
    TColor LineColor(int index);
    // Scrolls so the caret is visible (EM_SCROLLCARET), when scroll is true.
    void ScrollToEnd(bool scroll = true);
    // When not 0, only the last this many lines are kept: a log of a line
    // per file must not grow with the number of files (0: all are kept).
    int MaxLines = 0;
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
private:
    void SetSelectionColor(TColor color);
    // Removes the lines above the last MaxLines.
    void DropFirstLines();
    int TextLength();
};

} // namespace krv

// A read-only colour log over the rich-edit control. The control's library is
// loaded at run time (there is no import library for it in the toolchain).
#pragma once
#include "framework/Controls.h"
#include <deque>
#include <string>
#include <vector>

namespace krv {

// A text of one line or several ("\r\n" between them) in one colour.
struct TLogLine {
    std::string Text;
    TColor Color;
};

class TRichLog : public TWinControl {
public:
    explicit TRichLog(TComponent* owner = nullptr);
    // Appends one line (or several, "\r\n" between them) in a colour and scrolls to it.
    void AddLine(const std::string& text, TColor color);
    // Appends texts of different colours as one insertion drawn once: a
    // shown control costs a round trip to the window system and a repaint
    // per insertion, so lines of mixed colours must not go in one by one.
    void AddLines(const std::vector<TLogLine>& lines);
    void Clear();
    int LineCount();
    std::string Line(int index);
    // The colour of the first character of a line.
    TColor LineColor(int index);
    // Scrolls so the caret is visible (EM_SCROLLCARET), when scroll is true.
    void ScrollToEnd(bool scroll = true);
    // When not 0, only the last this many lines are kept: a log of a line
    // per file must not grow with the number of files (0: all are kept).
    // Counted in lines added, not in the rows a long line wraps into.
    int MaxLines = 0;
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
private:
    void SetSelectionColor(TColor color);
    // Inserts the texts at the end, each in its colour.
    void Insert(HWND wnd, const std::vector<TLogLine>& lines);
    // Removes the first count lines of held_ from the control.
    void DropFirstLines(size_t count);
    int TextLength();
    // With a limit: the lines the control holds, one line of text each.
    std::deque<TLogLine> held_;
};

} // namespace krv

// The framework's own drag of a control onto controls of this program (no
// OLE): the source starts it, a hidden window holds the mouse meanwhile, and
// each control the mouse passes is told by CM_DRAG messages what goes on.
#pragma once
#include "framework/Controls.h"

namespace krv {

// What a drag carries: a handler's own object, or the control it started from.
class TDragObject : public TObject {};
class TDragControlObject : public TDragObject {
public:
    explicit TDragControlObject(TControl* control) : control_(control) {}
    TControl* Control() const { return control_; }
private:
    TControl* control_;
};

// CM_DRAG: wParam a TDragMessage, lParam a TDragRec*. The answer to enter and
// move is nonzero when the control would take a drop there; to find target it
// is the TControl* that takes the drag at the point (0: none).
constexpr UINT CM_DRAG = WM_APP + 0x3F1;
enum TDragMessage { dmDragEnter, dmDragLeave, dmDragMove, dmDragDrop, dmFindTarget };
struct TDragRec {
    POINT Pos;             // on the screen
    TDragObject* Source;
    TControl* Target;      // the control the message is meant for
};

// Starts a drag of control: at once, or once the mouse has moved more than
// threshold pixels (the system's drag distance when negative) from where it
// is now. Nothing while another drag runs.
void BeginControlDrag(TWinControl* control, bool immediate, int threshold = -1);
// Ends the running drag: dropped where the mouse last was when drop is set
// and the control there takes it, else cancelled.
void EndControlDrag(bool drop);
// The control whose drag runs or waits for its threshold, or null.
TWinControl* ControlDragSource();
// A control going away: a drag from it ends (the control under the mouse is
// left, the source hears nothing), a drag over it forgets it.
void ControlDragGone(TControl* control);

} // namespace krv

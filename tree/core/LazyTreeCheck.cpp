// Check boxes: changing a node's check state with the veto and notification
// events, spreading a change down to box children and up to tri-state
// parents, radio groups, and the pending press of the space key or mouse.
//
// The spreading is a recursion over the tree (down to every child, up to
// every ancestor). It runs on an explicit stack of frames so that a deep
// tree cannot overflow the thread's stack, while the events come in exactly
// the order of the plain recursion.
#include "tree/core/LazyTrees.h"
#include <deque>

namespace krv {

namespace {
constexpr TCheckState kPressedOf[6] = {csUncheckedPressed, csUncheckedPressed, csCheckedPressed,
                                       csCheckedPressed, csMixedPressed, csMixedPressed};
constexpr TCheckState kNormalOf[6] = {csUncheckedNormal, csUncheckedNormal, csCheckedNormal,
                                      csCheckedNormal, csMixedNormal, csMixedNormal};
inline bool IsBox(uint8_t type) { return type == ctTriStateCheckBox || type == ctCheckBox; }
inline TCheckState Normalised(uint8_t s) { return s <= csMixedPressed ? kNormalOf[s] : csUncheckedNormal; }

// The state a tri-state parent takes when node is about to take newState.
TCheckState ParentStateFor(PLazyNode node, TCheckState newState) {
    unsigned total = 0, checked = 0;
    bool mixed = false;
    for (PLazyNode run = node->Parent->FirstChild; run; run = run->NextSibling) {
        if (!IsBox(run->CheckType)) continue;
        uint8_t state = run == node ? uint8_t(newState) : run->CheckState;
        ++total;
        if (state == csCheckedNormal || state == csCheckedPressed) ++checked;
        if (state == csMixedNormal) mixed = true;
    }
    if (checked == 0 && !mixed) return csUncheckedNormal;
    if (total > checked) return csMixedNormal;
    return csCheckedNormal;
}
}

TCheckState TBaseLazyTree::DetermineNextCheckState(TCheckType checkType, TCheckState checkState) {
    switch (checkType) {
    case ctTriStateCheckBox:
    case ctCheckBox:
        return checkState == csCheckedNormal ? csUncheckedNormal : csCheckedNormal;
    case ctRadioButton:
        return csCheckedNormal;
    case ctButton:
        return csUncheckedNormal;
    default:
        return checkState;
    }
}

void TBaseLazyTree::SetCheckState(PLazyNode node, TCheckState value) {
    if (!node || node == root_ || node->CheckState == value || (node->States & vsDisabled)) return;
    TCheckState newState = value;
    TNodeWatch watch(this, &node);
    if (DoChecking(node, newState) && node) DoSetCheckState(node, newState);
}

void TBaseLazyTree::SetCheckType(PLazyNode node, TCheckType value) {
    if (!node || node == root_ || node->CheckType == value || MiscOption(toReadOnly)) return;
    node->CheckType = value;
    node->CheckState = csUncheckedNormal;
    PLazyNode parent = node->Parent;
    if (AutoOption(toAutoTristateTracking) && IsBox(value) && parent != root_) {
        InitIfNeeded(parent);
        if (parent->CheckType == ctTriStateCheckBox &&
            (parent->CheckState == csUncheckedNormal || parent->CheckState == csCheckedNormal))
            SetCheckState(node, TCheckState(parent->CheckState));
    }
    InvalidateNode(node);
}

bool TBaseLazyTree::CheckParentCheckState(PLazyNode node, TCheckState newCheckState) {
    PLazyNode parent = node->Parent;
    TCheckState parentState = ParentStateFor(node, newCheckState);
    TNodeWatch watch(this, &parent);
    if (!DoChecking(parent, parentState) || !parent) return false;
    bool result = ChangeCheckState(parent, parentState);
    if (result) DoChecked(parent);
    return result;
}

bool TBaseLazyTree::ChangeCheckState(PLazyNode node, TCheckState value) {
    enum Phase { Enter, Down, Store, AfterParent, Finish, Return };
    // Handlers may delete the frame's node, the child in hand or the next one:
    // each is watched, and a frame whose node went ends without a change.
    struct Frame {
        Frame(TBaseLazyTree* tree, PLazyNode n, TCheckState v, bool fire)
            : node(n), value(v), fireChecked(fire), watchNode(tree, &node), watchChild(tree, &child),
              watchNext(tree, &next, TWatchKind::Ahead) {}
        PLazyNode node;
        TCheckState value;
        bool fireChecked;     // a nested change fires OnChecked itself on success
        Phase phase = Enter;
        PLazyNode child = nullptr;   // the child in hand going down
        PLazyNode next = nullptr;    // the child to visit after it
        bool result = false;
        TNodeWatch watchNode, watchChild, watchNext;
    };
    bool tracking = AutoOption(toAutoTristateTracking);
    std::deque<Frame> stack;   // frames stay where they are: the watches point into them
    stack.emplace_back(this, node, value, false);
    bool returned = false;
    while (!stack.empty()) {
        Frame& f = stack.back();
        PLazyNode n = f.node;
        if (!n && f.phase < Finish) {
            f.result = false;
            f.phase = Finish;
            continue;
        }
        switch (f.phase) {
        case Enter:
            if (n->States & vsChecking) {
                f.result = false;
                f.phase = Return;
                break;
            }
            n->States |= vsChecking;
            DoStateChange(tsCheckPropagation);
            InitIfNeeded(f.node);
            if (!f.node) break;
            if (n->CheckType == ctTriStateCheckBox && tracking &&
                (f.value == csCheckedNormal || f.value == csUncheckedNormal) && n->FirstChild) {
                f.next = n->FirstChild;
                f.phase = Down;
            } else {
                f.phase = Store;
            }
            break;
        case Down: {
            PLazyNode c = f.next;
            // The held next child left the node: its children are done.
            if (c && c->Parent != n) c = nullptr;
            if (!c) {
                // The node's own state follows what its box children ended with.
                unsigned unchecked = 0, checked = 0, mixed = 0;
                for (PLazyNode run = n->FirstChild; run; run = run->NextSibling) {
                    if (!IsBox(run->CheckType)) continue;
                    if (run->CheckState == csUncheckedNormal) ++unchecked;
                    else if (run->CheckState == csCheckedNormal) ++checked;
                    else if (run->CheckState == csMixedNormal) ++mixed;
                }
                if (mixed > 0 || (checked > 0 && unchecked > 0)) f.value = csMixedNormal;
                else if (checked > 0) f.value = csCheckedNormal;
                // Box children that all stayed unchecked (their checks refused) leave the
                // parent unchecked: shown checked, it would claim what none of them is.
                else if (unchecked > 0) f.value = csUncheckedNormal;
                f.phase = Store;
                break;
            }
            f.child = c;
            f.next = c->NextSibling;
            if (IsBox(c->CheckType) && c->CheckState != f.value && !(c->States & vsDisabled)) {
                TCheckState childState = f.value;
                if (DoChecking(c, childState) && f.child && f.node) stack.emplace_back(this, f.child, childState, true);
            }
            break;
        }
        case Store: {
            if (n->CheckType == ctRadioButton && f.value == csCheckedNormal) {
                for (PLazyNode run = n->Parent->FirstChild; run; run = run->NextSibling)
                    if (run->CheckType == ctRadioButton) run->CheckState = csUncheckedNormal;
                Invalidate();
            }
            n->CheckState = f.value;
            if (n->Parent != root_) InitIfNeeded(n->Parent);
            if (!f.node) break;
            PLazyNode parent = n->Parent;
            if (tracking && parent != root_ && !(parent->States & (vsChecking | vsDisabled)) && IsBox(n->CheckType) &&
                parent->CheckType == ctTriStateCheckBox) {
                TCheckState parentState = ParentStateFor(n, f.value);
                if (!DoChecking(parent, parentState) || !f.node) {
                    f.result = false;
                    f.phase = Finish;
                    break;
                }
                f.phase = AfterParent;
                stack.emplace_back(this, n->Parent, parentState, true);
            } else {
                f.result = true;
                f.phase = Finish;
            }
            break;
        }
        case AfterParent:
            f.result = returned;
            f.phase = Finish;
            break;
        case Finish:
            if (n) {
                InvalidateNode(n);
                n->States &= ~vsChecking;
            }
            DoStateChange({}, tsCheckPropagation);
            f.phase = Return;
            break;
        case Return: {
            bool result = f.result && n;
            bool fire = f.fireChecked;
            stack.pop_back();
            if (fire && result) DoChecked(n);
            returned = result;
            break;
        }
        }
    }
    return returned;
}

// ---- pending checks of the space key and the mouse ---------------------------------

bool TBaseLazyTree::BeginPendingCheck(PLazyNode node, bool byMouse) {
    if (!MiscOption(toCheckSupport) || !node || node == root_ || node->CheckType == ctNone) return false;
    if (states_.Contains(tsKeyCheckPending) || states_.Contains(tsMouseCheckPending)) return false;
    if (node->States & vsDisabled) return false;
    TCheckState newState = DetermineNextCheckState(TCheckType(node->CheckType), Normalised(node->CheckState));
    TNodeWatch watch(this, &node);
    if (!DoChecking(node, newState) || !node) return false;
    DoStateChange(byMouse ? tsMouseCheckPending : tsKeyCheckPending);
    checkNode_ = node;
    pendingCheckState_ = newState;
    node->CheckState = node->CheckState <= csMixedPressed ? kPressedOf[node->CheckState] : csUncheckedPressed;
    InvalidateNode(node);
    return true;
}

// Applies the pending change, or puts the box back to its normal look when
// the press was cancelled (another key, focus or mouse moved away).
void TBaseLazyTree::EndPendingCheck(bool apply) {
    DoStateChange({}, {tsKeyCheckPending, tsMouseCheckPending});
    PLazyNode node = checkNode_;
    checkNode_ = nullptr;
    if (!node) return;
    TNodeWatch watch(this, &node);
    if (apply) DoSetCheckState(node, pendingCheckState_);
    else node->CheckState = Normalised(node->CheckState);
    if (node) InvalidateNode(node);
}

} // namespace krv

// The keyboard: navigation keys with their selection rules, + - * / on both
// keyboards, the space-key check, F2, Escape, and the incremental search that
// finds a node by typing the start of its text.
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTrees.h"
#include "framework/Forms.h"
#include <algorithm>

namespace krv {

namespace {

bool IsNavigationKey(WORD key) {
    switch (key) {
    case VK_BACK: case VK_TAB: case VK_PRIOR: case VK_NEXT: case VK_END: case VK_HOME:
    case VK_LEFT: case VK_UP: case VK_RIGHT: case VK_DOWN:
        return true;
    default:
        return false;
    }
}

// The character a key produces with the present keyboard state (0 for none).
wchar_t CharacterOf(WORD key) {
    BYTE state[256];
    if (!::GetKeyboardState(state)) return 0;
    // Ctrl would turn letters into control characters.
    state[VK_CONTROL] = state[VK_LCONTROL] = state[VK_RCONTROL] = 0;
    wchar_t buffer[4];
    // Flag 4 leaves the keyboard's dead-key state alone for the character message.
    int n = ::ToUnicode(key, ::MapVirtualKeyA(key, 0), state, buffer, 4, 4);
    return n == 1 ? buffer[0] : 0;
}
}

// ---- navigation ------------------------------------------------------------------------------------

void TBaseLazyTree::SelectFocusedAfterKey(PLazyNode oldFocused, PLazyNode newFocused, TShiftState shift) {
    TNodeWatch watchOld(this, &oldFocused);
    TNodeWatch watchNew(this, &newFocused);
    if (newFocused != focusedNode_) {
        SetFocusedNode(newFocused);
        if (!newFocused || focusedNode_ != newFocused) return;   // vetoed or deleted
    }
    if ((shift & ssShift) && SelectionOption(toMultiSelect)) {
        PLazyNode anchor = rangeAnchor_ ? rangeAnchor_ : oldFocused;
        AddToSelectionRange(anchor, newFocused, false);
        if (anchor && (anchor->States & vsSelected)) rangeAnchor_ = anchor;
    } else if (!(shift & ssCtrl)) {
        InUpdate(*this, [&] {
            if (selectionCount_ == 1 && oldFocused && (oldFocused->States & vsSelected)) RemoveFromSelection(oldFocused);
            else ClearSelection();
            AddToSelection(newFocused);
        });
        rangeAnchor_ = newFocused;
    }
    InvalidateNode(newFocused);
}

void TBaseLazyTree::HandleKeyDown(WORD& key, TShiftState shift) {
    if (!DoKeyAction(key, shift)) return;
    if (states_.Contains(tsKeyCheckPending) && key != VK_SPACE) EndPendingCheck(false);
    if (IsNavigationKey(key)) HandleNavigationKey(key, shift);
    else HandleCommandKey(key, shift);
}

// ---- navigation keys: a new focused node, or a scroll with Ctrl --------------------------------

void TBaseLazyTree::HandleNavigationKey(WORD key, TShiftState shift) {
    if (key == VK_BACK && states_.Contains(tsIncrementalSearching)) {
        DoStateChange(tsIncrementalSearchPending);
        return;
    }
    if (!rangeAnchor_) rangeAnchor_ = GetFirstSelected() ? GetFirstSelected() : GetFirstNoInit();
    PLazyNode old = focusedNode_;
    PLazyNode target = nullptr;
    switch (key) {
    case VK_BACK:
        if (old && old->Parent != root_) target = old->Parent;
        break;
    case VK_TAB:
        target = TabKeyTarget(old, shift & ssShift);
        break;
    case VK_PRIOR:
    case VK_NEXT:
        target = PageKeyTarget(old, key == VK_PRIOR, shift & ssCtrl);
        break;
    case VK_HOME:
    case VK_END:
        target = HomeEndKeyTarget(old, key == VK_HOME, shift & ssCtrl);
        break;
    case VK_LEFT:
    case VK_RIGHT:
        target = LeftRightKeyTarget(old, key == VK_LEFT, shift);
        break;
    case VK_UP:
    case VK_DOWN:
        target = UpDownKeyTarget(old, key == VK_UP, shift & ssCtrl);
        break;
    default:
        break;
    }
    if (target && target != root_ && target != old) SelectFocusedAfterKey(old, target, shift);
}

// With extended focus Tab walks the shown columns, then on to the next row.
PLazyNode TBaseLazyTree::TabKeyTarget(PLazyNode old, bool backwards) {
    std::vector<TColumnIndex> order = header_->VisibleColumnsInOrder();
    if (!SelectionOption(toExtendedFocus) || order.empty() || !old) return nullptr;
    auto at = std::find(order.begin(), order.end(), focusedColumn_);
    int pos = at == order.end() ? 0 : int(at - order.begin());
    PLazyNode node = old;
    for (int guard = 0; node && guard < int(order.size()) * 2 + 2; ++guard) {
        pos += backwards ? -1 : 1;
        if (pos < 0 || pos >= int(order.size())) {
            node = backwards ? GetPreviousVisible(node) : GetNextVisible(node);
            pos = backwards ? int(order.size()) - 1 : 0;
            if (!node) break;
        }
        if (DoFocusChanging(old, node, focusedColumn_, order[size_t(pos)])) {
            focusedColumn_ = order[size_t(pos)];
            if (node != old) return node;
            DoFocusChanged(focusedNode_, focusedColumn_);
            InvalidateNode(old);
            return nullptr;
        }
    }
    return nullptr;
}

PLazyNode TBaseLazyTree::PageKeyTarget(PLazyNode old, bool up, bool ctrl) {
    int clientHeight = ClientHeight();
    if (ctrl) {
        DoSetOffsetXY(POINT{offsetX_, offsetY_ + (up ? clientHeight : -clientHeight)});
        return nullptr;
    }
    PLazyNode run = old ? old : GetFirstVisible();
    int covered = 0;
    while (run) {
        PLazyNode next = up ? GetPreviousVisible(run) : GetNextVisible(run);
        if (!next) break;
        covered += int(NodeHeight(next));
        if (covered > clientHeight) break;
        run = next;
    }
    return run;
}

PLazyNode TBaseLazyTree::HomeEndKeyTarget(PLazyNode old, bool home, bool ctrl) {
    PLazyNode node = home ? GetFirstVisible() : GetLastVisible();
    // The first (last) column the focus may move to, from that edge inwards.
    std::vector<TColumnIndex> order = header_->VisibleColumnsInOrder();
    if (!home) std::reverse(order.begin(), order.end());
    TColumnIndex column = ColumnNone;
    for (TColumnIndex c : order)
        if (node && DoFocusChanging(old, node, focusedColumn_, c)) {
            column = c;
            break;
        }
    if (ctrl && !MiscOption(toGridExtensions)) {
        if (node) ScrollIntoView(node, false);
        DoSetOffsetXY(POINT{home ? 0 : ClientWidth() - rangeX_, offsetY_});
        return nullptr;
    }
    if (column != ColumnNone && MiscOption(toGridExtensions) && !SelectionOption(toFullRowSelect)) focusedColumn_ = column;
    return node;
}

// Left and Right move between columns in a grid, else collapse or expand
// the focused node before they move to its parent or first child.
PLazyNode TBaseLazyTree::LeftRightKeyTarget(PLazyNode old, bool left, TShiftState shift) {
    if (shift & ssCtrl) {
        DoSetOffsetXY(POINT{offsetX_ + (left ? int(indent_) : -int(indent_)), offsetY_});
        return nullptr;
    }
    std::vector<TColumnIndex> order = header_->VisibleColumnsInOrder();
    if (SelectionOption(toExtendedFocus) && MiscOption(toGridExtensions) && !order.empty()) {
        auto at = std::find(order.begin(), order.end(), focusedColumn_);
        int pos = at == order.end() ? 0 : int(at - order.begin()) + (left ? -1 : 1);
        if (pos >= 0 && pos < int(order.size()) && DoFocusChanging(old, old, focusedColumn_, order[size_t(pos)])) {
            focusedColumn_ = order[size_t(pos)];
            DoFocusChanged(focusedNode_, focusedColumn_);
            if (old) InvalidateNode(old);
        }
        return nullptr;
    }
    if (!old) return GetFirstVisible();
    bool plain = !(shift & (ssShift | ssCtrl | ssAlt));
    if (left) {
        if (plain && (old->States & vsExpanded) && old->FirstChild) ToggleNode(old);
        else if (old->Parent != root_) return old->Parent;
        return nullptr;
    }
    if (plain && !(old->States & vsExpanded) && (old->States & vsHasChildren)) {
        ToggleNode(old);
        return nullptr;
    }
    return GetFirstVisibleChild(old);
}

PLazyNode TBaseLazyTree::UpDownKeyTarget(PLazyNode old, bool up, bool ctrl) {
    if (ctrl) {
        DoSetOffsetXY(POINT{offsetX_, offsetY_ + (up ? defaultNodeHeight_ : -defaultNodeHeight_)});
        return nullptr;
    }
    if (states_.Contains(tsEditing) && !DoEndEdit()) return nullptr;
    PLazyNode target;
    if (!old) target = up ? GetLastVisible() : GetFirstVisible();
    else target = up ? GetPreviousVisible(old) : GetNextVisible(old);
    if (focusedColumn_ <= ColumnNone && header_->ColumnCount() > 0) focusedColumn_ = header_->MainColumn();
    if (!target && old) InvalidateNode(old);
    return target;
}

// ---- the other keys: expanding, editing, the check, menus, typing ------------------------------

void TBaseLazyTree::HandleCommandKey(WORD key, TShiftState shift) {
    bool ctrl = shift & ssCtrl, shiftKey = shift & ssShift, alt = shift & ssAlt;
    // The main keyboard and the numeric pad act alike for + - * /.
    wchar_t ch = CharacterOf(key);
    keyCharacter_ = ch;
    WORD code = key;
    if (ch == L'*') code = VK_MULTIPLY;
    else if (ch == L'+') code = VK_ADD;
    else if (ch == L'-') code = VK_SUBTRACT;
    else if (ch == L'/') code = VK_DIVIDE;
    if (states_.Contains(tsIncrementalSearching) && ch >= 32 && !ctrl && !alt) {
        DoStateChange(tsIncrementalSearchPending);
        return;
    }
    if (code == VK_APPS) {
        // Shown before any watch is taken: an item of the menu may close the
        // tree, and nothing of it is touched once the menu returns.
        if (PLazyNode focused = focusedNode_) {
            RECT r = GetDisplayRect(focused, focusedColumn_, true);
            // The key's release would ask the system for the menu a second time.
            DoStateChange(tsPopupMenuShown);
            DoPopupMenu(focused, focusedColumn_, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        }
        return;
    }
    PLazyNode focused = focusedNode_;
    TNodeWatch watch(this, &focused);
    switch (code) {
    case VK_ADD:
        if (ctrl && shiftKey) FullExpand();
        else if (ctrl) header_->FitColumnsToContent(true);
        else if (focused && !(focused->States & vsExpanded)) ToggleNode(focused);
        break;
    case VK_SUBTRACT:
        if (ctrl && shiftKey) FullCollapse();
        else if (ctrl) header_->RestoreColumns();
        else if (focused && (focused->States & vsExpanded)) ToggleNode(focused);
        break;
    case VK_MULTIPLY:
        if (focused) FullExpand(focused);
        break;
    case VK_DIVIDE:
        if (focused) FullCollapse(focused);
        break;
    case VK_F1:
        ShowHelpContext();
        break;
    case VK_F2:
        if (!ctrl && !shiftKey && focused && CanEdit(focused, focusedColumn_)) {
            editColumn_ = focusedColumn_;
            DoEdit();
        }
        break;
    case VK_ESCAPE:
        if (states_.Contains(tsDrawSelPending) || states_.Contains(tsDrawSelecting)) {
            DoStateChange({}, {tsDrawSelPending, tsDrawSelecting, tsClearPending});
            if (HandleAllocated() && ::GetCapture() == handle_) ::ReleaseCapture();
            Invalidate();
        } else if (states_.Contains(tsEditing)) {
            DoCancelEdit();
        }
        break;
    case VK_SPACE:
        if (MiscOption(toCheckSupport) && focused && focused->CheckType != ctNone) {
            BeginPendingCheck(focused, false);
        } else if (!ctrl && !alt) {
            DoStateChange(tsIncrementalSearchPending);
        }
        break;
    default:
        if (ctrl && (key == 'A' || key == 'a')) {
            if (SelectionOption(toMultiSelect)) SelectAll(false);
        } else if (ch >= 32 && !ctrl && !alt) {
            DoStateChange(tsIncrementalSearchPending);
        }
        break;
    }
}

void TBaseLazyTree::ShowHelpContext() {
    if (!OnGetHelpContext) return;
    int context = 0;
    TColumnIndex column = std::max(focusedColumn_, TColumnIndex(0));
    for (PLazyNode node = focusedNode_; node && node != root_ && context == 0; node = node->Parent)
        context = DoGetHelpContext(node, column);
    for (TControl* control = this; control && context == 0; control = control->Parent()) context = control->HelpContext;
    if (context != 0) Application().HelpContext(context);
}

int TBaseLazyTree::DoGetHelpContext(PLazyNode node, TColumnIndex column) {
    int context = 0;
    if (OnGetHelpContext) OnGetHelpContext(this, node, column, context);
    return context;
}

void TBaseLazyTree::HandleKeyUp(WORD key, TShiftState) {
    if (key == VK_SPACE && states_.Contains(tsKeyCheckPending))
        EndPendingCheck(checkNode_ != nullptr && checkNode_ == focusedNode_);
}

// ---- incremental search ------------------------------------------------------------------------------

void TBaseLazyTree::IncrementalSearchChar(WORD charCode) {
    StopChangeTimer(kSearchTimer);
    if (incrementalSearch_ == isNone) return;
    wchar_t ch = 0;
    if (charCode != 0) {
        DoStateChange(tsIncrementalSearching);
        if (charCode < 0x80 || charCode > 0xFF) {
            ch = wchar_t(charCode);
        } else if (keyCharacter_ >= 0x80) {
            // The key's own UTF-16 character: the window's 8-bit character may be
            // one byte of a multi-byte sequence (UTF-8 as the ANSI code page).
            ch = keyCharacter_;
        } else {
            // An 8-bit character of the keyboard's own code page.
            char codePage[8] = {};
            LCID locale = LOWORD(reinterpret_cast<uintptr_t>(::GetKeyboardLayout(0)));
            UINT cp = ::GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, codePage, sizeof codePage)
                          ? UINT(std::atoi(codePage)) : CP_ACP;
            char c = char(charCode);
            if (::MultiByteToWideChar(cp, 0, &c, 1, &ch, 1) != 1) ch = wchar_t(charCode);
        }
    }
    if (ch == 8) {
        if (searchBuffer_.size() <= 1) {
            StartTimer(kSearchTimer, IncrementalSearchTimeout);
            return;
        }
        searchBuffer_.pop_back();
    }

    PLazyNode start = nullptr;
    switch (IncrementalSearchStart) {
    case ssAlwaysStartOver: break;
    case ssLastHit: start = lastSearchNode_; break;
    case ssFocusedNode: start = focusedNode_; break;
    }
    if (start && incrementalSearch_ == isInitializedOnly && !(start->States & vsInitialized)) start = nullptr;
    if (start && incrementalSearch_ == isVisibleOnly && !IsEffectivelyVisible(start)) start = nullptr;

    bool forward = IncrementalSearchDirection == sdForward;
    auto step = [&](PLazyNode n) -> PLazyNode {
        switch (incrementalSearch_) {
        case isVisibleOnly: return forward ? GetNextVisible(n) : GetPreviousVisible(n);
        case isInitializedOnly: {
            do n = forward ? GetNextNoInit(n) : GetPreviousNoInit(n);
            while (n && !(n->States & vsInitialized));
            return n;
        }
        default: return forward ? GetNext(n) : GetPrevious(n);
        }
    };
    auto first = [&]() -> PLazyNode {
        PLazyNode n;
        switch (incrementalSearch_) {
        case isVisibleOnly: return forward ? GetFirstVisible() : GetLastVisible();
        case isInitializedOnly:
            n = forward ? GetFirstNoInit() : GetLastNoInit();
            return n && !(n->States & vsInitialized) ? step(n) : n;
        default: return forward ? GetFirst() : GetLast();
        }
    };

    bool repeat = false;
    if (ch != 0 && ch != 8) {
        // The same single letter again moves on to the next node that starts with it.
        repeat = searchBuffer_.size() == 1 && searchBuffer_[0] == ch;
        if (!repeat) searchBuffer_ += ch;
    }
    if (!start) start = first();
    PLazyNode found = nullptr;
    bool startMatches = false;
    if (start) {
        TNodeWatch watchStart(this, &start);
        startMatches = DoIncrementalSearch(start, searchBuffer_) == 0;
        PLazyNode run = start;
        if (!repeat && startMatches) {
            found = start;
        } else {
            TNodeWatch watchRun(this, &run);
            for (;;) {
                run = step(run);
                if (!run) run = first();
                if (!run || run == start || !start) break;
                if (DoIncrementalSearch(run, searchBuffer_) == 0) {
                    found = run;
                    break;
                }
            }
            if (!found && repeat && startMatches) found = start;
        }
    }
    if (found) {
        TNodeWatch watchFound(this, &found);
        InUpdate(*this, [&] {
            ClearSelection();
        });
        if (found) SetFocusedNode(found);
        if (found) {
            AddToSelection(found);
            rangeAnchor_ = found;
            ScrollIntoView(found, SelectionOption(toCenterScrollIntoView), !AutoOption(toDisableAutoscrollOnFocus));
            lastSearchNode_ = found;
        }
    } else if (!startMatches) {
        ::MessageBeep(0);
    }
    StartTimer(kSearchTimer, IncrementalSearchTimeout);
}

} // namespace krv

// The keyboard: navigation keys with their selection rules, + - * / on both
// keyboards, the space-key check, F2, Escape, and the incremental search that
// finds a node by typing the start of its text.
#include "tree/LazyTreeTimers.h"
#include "tree/LazyTrees.h"
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
    bool ctrl = shift & ssCtrl, shiftKey = shift & ssShift, alt = shift & ssAlt;
    bool searching = states_.Contains(tsIncrementalSearching);

    if (IsNavigationKey(key)) {
        if (key == VK_BACK && searching) {
            DoStateChange(tsIncrementalSearchPending);
            return;
        }
        if (!rangeAnchor_) rangeAnchor_ = GetFirstSelected() ? GetFirstSelected() : GetFirstNoInit();
        PLazyNode old = focusedNode_;
        PLazyNode target = nullptr;
        int clientHeight = ClientHeight();
        switch (key) {
        case VK_BACK:
            if (old && old->Parent != root_) target = old->Parent;
            break;
        case VK_TAB: {
            std::vector<TColumnIndex> order = header_->VisibleColumnsInOrder();
            if (!SelectionOption(toExtendedFocus) || order.empty() || !old) break;
            auto at = std::find(order.begin(), order.end(), focusedColumn_);
            int pos = at == order.end() ? 0 : int(at - order.begin());
            PLazyNode node = old;
            for (int guard = 0; node && guard < int(order.size()) * 2 + 2; ++guard) {
                pos += shiftKey ? -1 : 1;
                if (pos < 0 || pos >= int(order.size())) {
                    node = shiftKey ? GetPreviousVisible(node) : GetNextVisible(node);
                    pos = shiftKey ? int(order.size()) - 1 : 0;
                    if (!node) break;
                }
                if (DoFocusChanging(old, node, focusedColumn_, order[size_t(pos)])) {
                    focusedColumn_ = order[size_t(pos)];
                    if (node == old) {
                        DoFocusChanged(focusedNode_, focusedColumn_);
                        InvalidateNode(old);
                    } else {
                        target = node;
                    }
                    break;
                }
            }
            break;
        }
        case VK_PRIOR:
        case VK_NEXT: {
            bool up = key == VK_PRIOR;
            if (ctrl) {
                DoSetOffsetXY(POINT{offsetX_, offsetY_ + (up ? clientHeight : -clientHeight)});
                break;
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
            target = run;
            break;
        }
        case VK_HOME:
        case VK_END: {
            bool home = key == VK_HOME;
            PLazyNode node = home ? GetFirstVisible() : GetLastVisible();
            if (ctrl && !MiscOption(toGridExtensions)) {
                if (node) ScrollIntoView(node, false);
                DoSetOffsetXY(POINT{home ? 0 : ClientWidth() - rangeX_, offsetY_});
                break;
            }
            std::vector<TColumnIndex> order = header_->VisibleColumnsInOrder();
            if (!order.empty() && MiscOption(toGridExtensions) && !SelectionOption(toFullRowSelect) && node) {
                TColumnIndex column = home ? order.front() : order.back();
                if (DoFocusChanging(old, node, focusedColumn_, column)) focusedColumn_ = column;
            }
            target = node;
            break;
        }
        case VK_LEFT:
        case VK_RIGHT: {
            bool left = key == VK_LEFT;
            if (ctrl) {
                DoSetOffsetXY(POINT{offsetX_ + (left ? int(indent_) : -int(indent_)), offsetY_});
                break;
            }
            std::vector<TColumnIndex> order = header_->VisibleColumnsInOrder();
            if (SelectionOption(toExtendedFocus) && MiscOption(toGridExtensions) && !order.empty()) {
                auto at = std::find(order.begin(), order.end(), focusedColumn_);
                int pos = at == order.end() ? 0 : int(at - order.begin()) + (left ? -1 : 1);
                if (pos >= 0 && pos < int(order.size()) &&
                    DoFocusChanging(old, old, focusedColumn_, order[size_t(pos)])) {
                    focusedColumn_ = order[size_t(pos)];
                    DoFocusChanged(focusedNode_, focusedColumn_);
                    if (old) InvalidateNode(old);
                }
                break;
            }
            if (!old) {
                target = GetFirstVisible();
                break;
            }
            bool plain = !(shift & (ssShift | ssCtrl | ssAlt));
            if (left) {
                if (plain && (old->States & vsExpanded) && old->FirstChild) ToggleNode(old);
                else if (old->Parent != root_) target = old->Parent;
            } else {
                if (plain && !(old->States & vsExpanded) && (old->States & vsHasChildren)) ToggleNode(old);
                else target = GetFirstVisibleChild(old);
            }
            break;
        }
        case VK_UP:
        case VK_DOWN: {
            bool up = key == VK_UP;
            if (ctrl) {
                DoSetOffsetXY(POINT{offsetX_, offsetY_ + (up ? defaultNodeHeight_ : -defaultNodeHeight_)});
                break;
            }
            if (states_.Contains(tsEditing) && !DoEndEdit()) break;
            if (!old) target = up ? GetLastVisible() : GetFirstVisible();
            else target = up ? GetPreviousVisible(old) : GetNextVisible(old);
            if (focusedColumn_ <= ColumnNone && header_->ColumnCount() > 0) focusedColumn_ = header_->MainColumn();
            if (!target && old) InvalidateNode(old);
            break;
        }
        default:
            break;
        }
        if (target && target != root_ && target != old) SelectFocusedAfterKey(old, target, shift);
        return;
    }

    // The main keyboard and the numeric pad act alike for + - * /.
    wchar_t ch = CharacterOf(key);
    keyCharacter_ = ch;
    WORD code = key;
    if (ch == L'*') code = VK_MULTIPLY;
    else if (ch == L'+') code = VK_ADD;
    else if (ch == L'-') code = VK_SUBTRACT;
    else if (ch == L'/') code = VK_DIVIDE;
    if (searching && ch >= 32 && !ctrl && !alt) {
        DoStateChange(tsIncrementalSearchPending);
        return;
    }
    PLazyNode focused = focusedNode_;
    TNodeWatch watch(this, &focused);
    switch (code) {
    case VK_ADD:
        if (ctrl && shiftKey) FullExpand();
        else if (ctrl) header_->FitColumnsToContent(true);
        else if (!ctrl && focused && !(focused->States & vsExpanded)) ToggleNode(focused);
        break;
    case VK_SUBTRACT:
        if (ctrl && shiftKey) FullCollapse();
        else if (ctrl) header_->RestoreColumns();
        else if (!ctrl && focused && (focused->States & vsExpanded)) ToggleNode(focused);
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
    case VK_APPS:
        if (focused) {
            RECT r = GetDisplayRect(focused, focusedColumn_, true);
            // The key's release would ask the system for the menu a second time.
            DoStateChange(tsPopupMenuShown);
            DoPopupMenu(focused, focusedColumn_, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
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

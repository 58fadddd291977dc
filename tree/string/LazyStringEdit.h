// The string tree's in-place editor: TStringEditLink is the tree's side of an
// edit, TLTEdit the Unicode EDIT control over the node's text. Return ends
// the edit (Ctrl+Return for a multi-line node), Escape cancels it; the edit
// grows with its text, and frees itself through a posted message so that it
// never disappears under a message it is handling.
#pragma once
#include "tree/string/LazyStringTree.h"
#include <memory>

namespace krv {

class TStringEditLink;

class TLTEdit : public TWindow {
public:
    explicit TLTEdit(std::shared_ptr<TStringEditLink> link);
    // Makes the hidden control as a child of the tree.
    void CreateControl(HWND parent, bool multiline, bool themed, TAlignment alignment);
    // Frees the control once the messages already queued for it are handled.
    void Release();
    std::wstring Text() const;
    void SetText(const std::wstring& text);
    bool Modified() const;
    // The edit stops referring to its link (the link may then go).
    void ForgetLink();
    static constexpr UINT AutoAdjustMessage = 0xB7D5;
    static constexpr UINT ReleaseMessage = 0xB021;
protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void HandleDestroyed() override;
private:
    void AutoAdjustSize();
    std::shared_ptr<TStringEditLink> linkRef_;
    TStringEditLink* link_;
    bool multiline_ = false;
    bool released_ = false;
};

class TStringEditLink : public ILTEditLink, public std::enable_shared_from_this<TStringEditLink> {
public:
    TStringEditLink() = default;
    ~TStringEditLink() override;
    bool StartEditing() override;
    bool CancelEditing() override;
    bool FinishEditing() override;
    bool PrepareEditing(TBaseLazyTree* tree, PLazyNode node, TColumnIndex column) override;
    RECT GetEditorBounds() override;
    void ForwardMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void SetEditorBounds(RECT r) override;

    TLTEdit* Edit() const { return edit_; }
    TCustomLazyStringTree* Tree() const { return tree_; }
    PLazyNode Node() const { return node_; }
    TColumnIndex Column() const { return column_; }
    TAlignment Alignment() const { return alignment_; }
    RECT TextBounds() const { return textBounds_; }
    bool Finished() const { return finished_; }
    // Set while the link itself ends the edit: the focus loss that follows is no user action.
    bool Stopping() const { return stopping_; }

private:
    friend class TLTEdit;
    bool EndEdit(bool accept);
    TLTEdit* edit_ = nullptr;
    TCustomLazyStringTree* tree_ = nullptr;
    PLazyNode node_ = nullptr;
    TColumnIndex column_ = ColumnNone;
    TAlignment alignment_ = taLeftJustify;
    RECT textBounds_{};
    TFont font_;
    bool finished_ = false;
    bool stopping_ = false;
};

} // namespace krv

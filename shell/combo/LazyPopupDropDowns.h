// The two drop-downs of the path combo box: a shell folder tree, and the
// autocomplete list that follows what is typed. Each owns its tree; the
// window's scroll bar stands in for the tree's own.
#pragma once
#include "shell/combo/LazyDropDown.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/combo/LazyShellAutoComplete.h"
#include "tree/string/LazyStringTree.h"
#include <functional>
#include <string>

namespace krv {

// What the two drop-downs share: a tree that fills the window beside the scroll bar.
class TTreeDropDownWnd : public TDropDownWnd {
public:
    using TDropDownWnd::TDropDownWnd;
    void UpdateScrollbar() override;
    // The tree, made by MakePopupTree at its first use (so a descendant's
    // override is the one called, not the constructor's own).
    TBaseLazyTree* PopupTree() const;
protected:
    virtual TBaseLazyTree* MakePopupTree() = 0;
    int RowHeight() override;
    void LayoutChildren(int width, int height) override;
    // A right-to-left tree puts the bar on the left.
    bool ScrollBarOnLeft() const override;
    void AutoScrollStep(int code) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // Sends a navigation key to the tree; Tab acts as Down.
    bool ForwardNavigationKey(MSG& message, bool leftRight);
    void PrepareTree(TBaseLazyTree* tree);
private:
    void PlaceTree(bool barShown);
    mutable TBaseLazyTree* tree_ = nullptr;
};

class TPopupExplorerDropDown;

// The folder tree inside the explorer drop-down.
class TPopupExplorerTree : public TLazyExplorerTree {
public:
    explicit TPopupExplorerTree(TPopupExplorerDropDown* dropDown);
    TPopupExplorerDropDown* DropDown() const { return dropDown_; }
protected:
    void DoExpanded(PLazyNode node) override;
    void DoCollapsed(PLazyNode node) override;
    void HandleMouseUp(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hitInfo) override;
    void HandleMouseMoveTree(TShiftState shift, POINT p) override;
private:
    void TellDropDown();
    TPopupExplorerDropDown* dropDown_;
};

class TPopupExplorerDropDown : public TTreeDropDownWnd {
public:
    // The tree's look: the enhanced one has buttons and lines.
    enum TComboBoxStyle { cbsClassic, cbsLETEnhanced };

    explicit TPopupExplorerDropDown(TComponent* owner = nullptr);
    TPopupExplorerTree& Tree() { return *TreeNeeded(); }
    TComboBoxStyle ComboBoxStyle() const { return style_; }
    void SetComboBoxStyle(TComboBoxStyle value);
    // The tree's enumeration filter (as the explorer tree's).
    std::function<void(TCustomLazyExplorerTree*, TNamespace* ns, bool& allowAsChild)>& OnEnumFolder() {
        return TreeNeeded()->OnEnumFolder;
    }
protected:
    virtual TPopupExplorerTree* CreatePopupTree();
    TBaseLazyTree* MakePopupTree() override { return CreatePopupTree(); }
    // The tree is built once its window exists, before the event.
    void DoRollDownInit() override;
    void HandleKey(MSG& message, bool& handled) override;
private:
    TPopupExplorerTree* TreeNeeded() const { return static_cast<TPopupExplorerTree*>(PopupTree()); }
    TComboBoxStyle style_ = cbsClassic;
};

class TPopupAutoCompleteDropDown;

// The candidate list: one row per string of Strings, no indent.
class TPopupAutoCompleteTree : public TLazyStringTree {
public:
    explicit TPopupAutoCompleteTree(TPopupAutoCompleteDropDown* dropDown);
    TLazyShellAutoComplete& AutoComplete() { return autoComplete_; }
    TWideStringList& Strings() { return strings_; }
    // Rows made again for Strings.
    void RefreshRows();
    std::wstring RowText(PLazyNode node);
protected:
    void DoGetText(PLazyNode node, TColumnIndex column, TLSTTextType textType, std::wstring& text) override;
    void HandleMouseUp(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hitInfo) override;
    void HandleMouseMoveTree(TShiftState shift, POINT p) override;
private:
    TPopupAutoCompleteDropDown* dropDown_;
    TLazyShellAutoComplete autoComplete_;
    TWideStringList strings_;
    POINT lastStep_{-1000, -1000};
};

class TPopupAutoCompleteDropDown : public TTreeDropDownWnd {
public:
    explicit TPopupAutoCompleteDropDown(TComponent* owner = nullptr);
    TPopupAutoCompleteTree& Tree() { return *TreeNeeded(); }
    TAutoCompleteContents Contents() const { return TreeNeeded()->AutoComplete().Contents(); }
    void SetContents(TAutoCompleteContents value) { TreeNeeded()->AutoComplete().SetContents(value); }
    // Fills the rows for the edit's text; answers how many there are.
    int UpdateList(const std::wstring& editText);

    std::function<void(TObject* sender, const std::wstring& currentEditContents, TWideStringList& enumList,
                       bool& handled)> OnAutoCompleteUpdateList;
    // A row's text for the edit (the focused row moved, or chosen).
    std::function<void(TObject* sender, const std::wstring& text)> OnRowText;
protected:
    virtual TPopupAutoCompleteTree* CreatePopupTree();
    TBaseLazyTree* MakePopupTree() override { return CreatePopupTree(); }
    virtual bool DoAutoCompleteUpdateList(const std::wstring& text, TWideStringList& list);
    void DoRollDownInit() override;
    void DoRollUp(bool selected) override;
    void HandleKey(MSG& message, bool& handled) override;
private:
    void TellRow();
    TPopupAutoCompleteTree* TreeNeeded() const { return static_cast<TPopupAutoCompleteTree*>(PopupTree()); }
};

// The published options of a drop-down: each property forwards to the
// window or to its tree.
class TPopupOptionsBase {
public:
    explicit TPopupOptionsBase(TTreeDropDownWnd* dropDown) : dd_(dropDown) {}
    int AnimationSpeed() const { return dd_->AnimationSpeed; }
    void SetAnimationSpeed(int v) { dd_->AnimationSpeed = v; }
    unsigned AutoScrollTimeFast() const { return dd_->AutoScrollTimeFast; }
    void SetAutoScrollTimeFast(unsigned v) { dd_->AutoScrollTimeFast = v; }
    unsigned AutoScrollTimeSlow() const { return dd_->AutoScrollTimeSlow; }
    void SetAutoScrollTimeSlow(unsigned v) { dd_->AutoScrollTimeSlow = v; }
    HBITMAP Background() const { return Tree()->Background(); }
    void SetBackground(HBITMAP picture) { Tree()->SetBackground(picture); }
    int BackgroundOffsetX() const { return Tree()->BackgroundOffsetX(); }
    void SetBackgroundOffsetX(int v) { Tree()->SetBackgroundOffsetX(v); }
    int BackgroundOffsetY() const { return Tree()->BackgroundOffsetY(); }
    void SetBackgroundOffsetY(int v) { Tree()->SetBackgroundOffsetY(v); }
    TColor Color() const { return Tree()->Color(); }
    void SetColor(TColor v) { Tree()->SetColor(v); dd_->SetColor(v); }
    int DefaultNodeHeight() const { return Tree()->DefaultNodeHeight(); }
    void SetDefaultNodeHeight(int v) { Tree()->SetDefaultNodeHeight(v); }
    int DropDownCount() const { return dd_->DropDownCount(); }
    void SetDropDownCount(int v) { dd_->SetDropDownCount(v); }
    unsigned Indent() const { return Tree()->Indent(); }
    void SetIndent(unsigned v) { Tree()->SetIndent(v); }
    TPopupOptions Options() const { return dd_->Options(); }
    void SetOptions(TPopupOptions v) { dd_->SetOptions(v); }
    std::function<void(TObject* sender, bool& allow)>& OnRollDown() { return dd_->OnRollDown; }
    std::function<void(TObject* sender, bool selected)>& OnRollUp() { return dd_->OnRollUp; }
private:
    TBaseLazyTree* Tree() const { return dd_->PopupTree(); }
    TTreeDropDownWnd* dd_;
};

class TPopupExplorerOptions : public TPopupOptionsBase {
public:
    explicit TPopupExplorerOptions(TPopupExplorerDropDown* dropDown) : TPopupOptionsBase(dropDown), dd_(dropDown) {}
    TPopupExplorerDropDown::TComboBoxStyle ComboBoxStyle() const { return dd_->ComboBoxStyle(); }
    void SetComboBoxStyle(TPopupExplorerDropDown::TComboBoxStyle v) { dd_->SetComboBoxStyle(v); }
    auto& OnEnumFolder() { return dd_->OnEnumFolder(); }
private:
    TPopupExplorerDropDown* dd_;
};

class TPopupAutoCompleteOptions : public TPopupOptionsBase {
public:
    explicit TPopupAutoCompleteOptions(TPopupAutoCompleteDropDown* dropDown)
        : TPopupOptionsBase(dropDown), dd_(dropDown) {}
    TAutoCompleteContents Contents() const { return dd_->Contents(); }
    void SetContents(TAutoCompleteContents v) { dd_->SetContents(v); }
    auto& OnAutoCompleteUpdateList() { return dd_->OnAutoCompleteUpdateList; }
    // Read from old stored forms and ignored.
    void SetAlwaysShow(bool) {}
private:
    TPopupAutoCompleteDropDown* dd_;
};

// The folder part of typed text as the autocomplete reads it: up to the last
// backslash; a lone character X is the drive X:\; empty when there is none.
std::wstring AutoCompleteFolderOf(const std::wstring& text);

} // namespace krv

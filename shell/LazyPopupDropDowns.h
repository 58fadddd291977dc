// The two drop-downs of the path combo box: a shell folder tree, and the
// autocomplete list that follows what is typed. Each owns its tree; the
// window's scroll bar stands in for the tree's own.
#pragma once
#include "shell/LazyDropDown.h"
#include "shell/LazyExplorerTree.h"
#include "shell/LazyShellAutoComplete.h"
#include "tree/LazyStringTree.h"
#include <functional>
#include <string>

namespace krv {

// What the two drop-downs share: a tree that fills the window beside the scroll bar.
class TTreeDropDownWnd : public TDropDownWnd {
public:
    using TDropDownWnd::TDropDownWnd;
    void UpdateScrollbar() override;
protected:
    virtual TBaseLazyTree* PopupTree() const = 0;
    int RowHeight() override;
    void LayoutChildren(int width, int height) override;
    void AutoScrollStep(int code) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // Sends a navigation key to the tree; Tab acts as Down.
    bool ForwardNavigationKey(MSG& message, bool leftRight);
    void PrepareTree(TBaseLazyTree* tree);
private:
    void PlaceTree(bool barShown);
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
    TPopupExplorerTree& Tree() { return *tree_; }
    TComboBoxStyle ComboBoxStyle() const { return style_; }
    void SetComboBoxStyle(TComboBoxStyle value);
    // The tree's enumeration filter (as the explorer tree's).
    std::function<void(TCustomLazyExplorerTree*, TNamespace* ns, bool& allowAsChild)>& OnEnumFolder() {
        return tree_->OnEnumFolder;
    }
protected:
    virtual TPopupExplorerTree* CreatePopupTree();
    TBaseLazyTree* PopupTree() const override { return tree_; }
    void HandleKey(MSG& message, bool& handled) override;
private:
    TPopupExplorerTree* tree_;
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
    void DoGetText(PLazyNode node, TColumnIndex column, TVSTTextType textType, std::wstring& text) override;
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
    TPopupAutoCompleteTree& Tree() { return *tree_; }
    TAutoCompleteContents Contents() const { return tree_->AutoComplete().Contents(); }
    void SetContents(TAutoCompleteContents value) { tree_->AutoComplete().SetContents(value); }
    // Fills the rows for the edit's text; answers how many there are.
    int UpdateList(const std::wstring& editText);

    std::function<void(TObject* sender, const std::wstring& currentEditContents, TWideStringList& enumList,
                       bool& handled)> OnAutoCompleteUpdateList;
    // A row's text for the edit (the focused row moved, or chosen).
    std::function<void(TObject* sender, const std::wstring& text)> OnRowText;
protected:
    virtual TPopupAutoCompleteTree* CreatePopupTree();
    TBaseLazyTree* PopupTree() const override { return tree_; }
    virtual bool DoAutoCompleteUpdateList(const std::wstring& text, TWideStringList& list);
    void DoRollDownInit() override;
    void DoRollUp(bool selected) override;
    void HandleKey(MSG& message, bool& handled) override;
private:
    void TellRow();
    TPopupAutoCompleteTree* tree_;
};

// The folder part of typed text as the autocomplete reads it: up to the last
// backslash; a lone character X is the drive X:\; empty when there is none.
std::wstring AutoCompleteFolderOf(const std::wstring& text);

} // namespace krv

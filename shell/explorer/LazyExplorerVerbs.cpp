// What the explorer tree does with the shell items of its selected nodes:
// the clipboard and its cut/copy marks, delete and properties, the keyboard
// table, renaming through the shell, New Folder, opening items, text
// colours and hints.
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "framework/OleData.h"
#include "shell/explorer/LazyExplorerViews.h"
#include "shell/item/LazyIconThread.h"
#include "shell/base/ShellClipFormats.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include <windowsx.h>
#include <algorithm>

namespace krv {

namespace {

HGLOBAL MoveEffect() {
    const DWORD effect = DROPEFFECT_MOVE;
    return GlobalFromBytes(&effect, sizeof effect);
}

FORMATETC PreferredEffectFormat() {
    return {CLIPFORMAT(RegisterShellClipFormats().PreferredDropEffect), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

// A shell data object that does not take the preferred effect itself: this
// one answers it and passes everything else on.
class TCutDataObject final : public IDataObject {
public:
    explicit TCutDataObject(ComPtr<IDataObject> shell) : shell_(std::move(shell)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return QuerySingleInterface(static_cast<IDataObject*>(this), IID_IDataObject, iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.Drop();
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!IsEffect(format)) return shell_->GetData(format, medium);
        *medium = STGMEDIUM{};
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = MoveEffect();
        return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* format, STGMEDIUM* medium) override {
        return shell_->GetDataHere(format, medium);
    }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        return IsEffect(format) ? S_OK : shell_->QueryGetData(format);
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override {
        return shell_->GetCanonicalFormatEtc(in, out);
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override {
        return shell_->SetData(format, medium, release);
    }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        return shell_->EnumFormatEtc(direction, out);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override {
        return shell_->DAdvise(format, flags, sink, connection);
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD connection) override { return shell_->DUnadvise(connection); }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** out) override { return shell_->EnumDAdvise(out); }

private:
    ~TCutDataObject() = default;
    static bool IsEffect(const FORMATETC* format) {
        return format && format->cfFormat == PreferredEffectFormat().cfFormat && (format->tymed & TYMED_HGLOBAL);
    }
    TComRefCount refs_;
    ComPtr<IDataObject> shell_;
};

// A cut is told to the pasting side by the data object's preferred effect.
ComPtr<IDataObject> MarkForMove(ComPtr<IDataObject> data) {
    FORMATETC format = PreferredEffectFormat();
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = MoveEffect();
    GlobalHandle owned(medium.hGlobal);
    // Taken by the object only when it accepts it.
    if (owned && SUCCEEDED(data->SetData(&format, &medium, TRUE))) {
        owned.release();
        return data;
    }
    return ComPtr<IDataObject>::Attach(new TCutDataObject(std::move(data)));
}

// The shell's data object of the items, as the shell's own copy and cut put it there.
bool PutOnClipboard(TNamespace* target, const TNamespaceArray& items, bool cut) {
    ComPtr<IDataObject> data = target->DataObject(items);
    if (!data) return false;
    if (cut) data = MarkForMove(std::move(data));
    return SUCCEEDED(::OleSetClipboard(data.get()));
}

} // namespace

void TLETColors::Set(TColor& field, TColor value) {
    if (field == value) return;
    field = value;
    if (owner_) owner_->RepaintTree();
}

// ---- commands on the selection -----------------------------------------------------------

std::vector<TNamespace*> TCustomLazyExplorerTree::SelectedNamespaces() {
    std::vector<TNamespace*> result;
    for (PLazyNode node : GetSortedSelection(true)) {
        TNamespace* ns;
        if (ValidateNamespace(node, ns)) result.push_back(ns);
    }
    return result;
}

bool TCustomLazyExplorerTree::InvokeShellVerb(TShellVerb verb, TNamespace* target, const TNamespaceArray& items) {
    switch (verb) {
    case svDelete: return target->Delete(items);
    case svCut:
        return std::all_of(items.begin(), items.end(), [](TNamespace* ns) { return ns->CanMove(); }) &&
               PutOnClipboard(target, items, true);
    case svCopy: return PutOnClipboard(target, items, false);
    case svPaste: return target->Paste(items);
    case svProperties: return target->ShowPropertySheet(items);
    }
    return false;
}

bool TCustomLazyExplorerTree::SelectedFilesDelete() {
    // A read-only tree never hands a user's folders to the shell's delete.
    if (LETMiscOption(toLETReadOnly)) return false;
    TNamespaceArray items = SelectedNamespaces();
    return !items.empty() && InvokeShellVerb(svDelete, items.front(), items);
}

bool TCustomLazyExplorerTree::SelectedFilesPaste() {
    // Pasting goes into one folder: with several selected it is unclear which.
    if (LETMiscOption(toLETReadOnly) || SelectedCount() != 1) return false;
    TNamespaceArray items = SelectedNamespaces();
    return items.size() == 1 && InvokeShellVerb(svPaste, items.front(), items);
}

bool TCustomLazyExplorerTree::SelectedFilesShowProperties() {
    TNamespaceArray items = SelectedNamespaces();
    return !items.empty() && InvokeShellVerb(svProperties, items.front(), items);
}

bool TCustomLazyExplorerTree::ShowSelectionProperties() { return SelectedFilesShowProperties(); }

bool TCustomLazyExplorerTree::CopyToClipboard() {
    TWaitCursorScope wait(*this);
    if (DoClipboardCopy()) return true;
    TNamespaceArray items = SelectedNamespaces();
    if (items.empty() || !InvokeShellVerb(svCopy, items.front(), items)) return false;
    if (ImageOption(toMarkCutAndCopy)) MarkCutCopy(false);
    return true;
}

bool TCustomLazyExplorerTree::CutToClipboard() {
    if (LETMiscOption(toLETReadOnly)) return false;
    TWaitCursorScope wait(*this);
    bool markSelectedCut = true;
    if (DoClipboardCut(markSelectedCut)) {
        if (markSelectedCut) MarkCutCopy(true);
        return true;
    }
    TNamespaceArray items = SelectedNamespaces();
    if (items.empty() || !InvokeShellVerb(svCut, items.front(), items)) return false;
    if (ImageOption(toMarkCutAndCopy)) MarkCutCopy(true);
    return true;
}

bool TCustomLazyExplorerTree::PasteFromClipboard() {
    if (LETMiscOption(toLETReadOnly)) return false;
    TWaitCursorScope wait(*this);
    if (DoClipboardPaste()) return true;
    return SelectedFilesPaste();
}

void TCustomLazyExplorerTree::ClearCutCopyMarks() {
    for (PLazyNode run = GetFirstNoInit(); run; run = GetNextNoInit(run)) run->States &= ~vsCutOrCopy;
    DoStateChange({}, {tsCutPending, tsCopyPending});
}

void TCustomLazyExplorerTree::MarkCutCopy(bool cut) {
    ClearCutCopyMarks();
    for (PLazyNode node : GetSortedSelection(false)) node->States |= vsCutOrCopy;
    DoStateChange(cut ? tsCutPending : tsCopyPending);
    RepaintTree();
}

// ---- keyboard -------------------------------------------------------------------------------

void TCustomLazyExplorerTree::HandleKeyDown(WORD& key, TShiftState shift) {
    bool ctrl = shift & ssCtrl, shiftKey = shift & ssShift, alt = shift & ssAlt;
    bool readOnly = LETMiscOption(toLETReadOnly);
    if (IsEditing() || alt) {
        TCustomLazyStringTree::HandleKeyDown(key, shift);
        return;
    }
    // A tree that offers none of the shell's features (the main window's
    // folder tree) never hands its folders to the shell on a key press.
    bool shellKeys = TreeOptions().LETShellOptions() != TLETShellOptions{};
    bool done = true;
    if (shellKeys && ctrl && !shiftKey && (key == 'C' || key == VK_INSERT)) CopyToClipboard();
    else if (shellKeys && ctrl && !shiftKey && key == 'X') CutToClipboard();
    else if (shellKeys && ctrl && !shiftKey && key == 'V') PasteFromClipboard();
    else if (shellKeys && shiftKey && !ctrl && key == VK_INSERT) {
        if (!readOnly) PasteFromClipboard();
    } else if (shellKeys && key == VK_DELETE && !ctrl && !shiftKey) SelectedFilesDelete();
    else if (ctrl && shiftKey && key == 'A') SelectAll(false);
    else if (key == VK_F3 && !ctrl && !shiftKey) {
        if (PLazyNode first = GetFirstSelected()) RefreshNode(first);
    } else if (key == VK_F5 && !ctrl && !shiftKey) RefreshTree(LETMiscOption(toRestoreTopNodeOnRefresh));
    else if (key == VK_DIVIDE && FocusedNode()) {
        TWaitCursorScope wait(*this);
        FullCollapse(FocusedNode());
    } else done = false;
    if (done) {
        key = 0;
        return;
    }
    // The Applications key raises the context menu through the default window handling.
    if (key == VK_APPS) return;
    TCustomLazyStringTree::HandleKeyDown(key, shift);
}

void TCustomLazyExplorerTree::RefreshTree(bool restoreTopNode) {
    Persistent().SaveTree(*this, true, true);
    RebuildAndRestoreView(restoreTopNode);
}

void TCustomLazyExplorerTree::RebuildAndRestoreView(bool restoreTopNode) {
    TLETPersistent& view = Persistent();
    InUpdate(*this, [&] {
        RebuildTree();
        view.RestoreTree(*this, true, true, false);
    });
    if (restoreTopNode && view.TopNodePIDL)
        if (PLazyNode top = FindNodeByPIDL(view.TopNodePIDL.get())) SetTopNode(top);
}

// ---- messages and the mouse -------------------------------------------------------------------

bool TCustomLazyExplorerTree::HandleVerbMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_LETRENAMEFAILED:
        RenameFailed(reinterpret_cast<LPITEMIDLIST>(wParam));
        result = 0;
        return true;
    case WM_SYSKEYDOWN:
        altDown_ = (lParam & (1 << 29)) != 0;
        return false;
    case WM_SYSKEYUP:
        altDown_ = false;
        return false;
    case WM_SYSCHAR:
        if (wParam == VK_RETURN && altDown_) {
            ShowSelectionProperties();
            result = 0;
            return true;
        }
        return false;
    case WM_RBUTTONDBLCLK: {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        THitTestResult hit;
        GetHitTestInfoAt(p.x, p.y, true, hit);
        DoTreeDblClick(hit.Node, mbRight, p);
        return false;
    }
    default:
        return ContextMenuMessage(msg, wParam, lParam, result);
    }
}

void TCustomLazyExplorerTree::HandleMouseDblClick(TMouseButton button, TShiftState shift, POINT p,
                                                 THitTestResult& hitInfo) {
    TCustomLazyStringTree::HandleMouseDblClick(button, shift, p, hitInfo);
    if (button != mbLeft) return;
    PLazyNode node = FocusedNode();
    bool onItem = hitInfo.Node && hitInfo.Node == node && (hitInfo.Positions & (hpOnItemLabel | hpOnNormalIcon));
    if (onItem && altDown_) {
        ShowSelectionProperties();
        return;
    }
    TNamespace* ns;
    if (onItem && LETMiscOption(toExecuteOnDblClk) && ValidateNamespace(node, ns)) {
        std::wstring workingDir, parameters;
        if (DoShellExecute(ns, workingDir, parameters)) {
            bool followed = ns->Link() && LETMiscOption(toBrowseExecuteFolderShortcut) && BrowseToShortcutTarget(ns);
            if (!followed) ShellExecuteNamespace(ns, workingDir, parameters);
        }
    }
    DoTreeDblClick(hitInfo.Node, mbLeft, p);
}

bool TCustomLazyExplorerTree::ShellExecuteNamespace(TNamespace* ns, const std::wstring& workingDir,
                                                    const std::wstring& parameters) {
    if (!ns) return false;
    // A ".zip" folder is a file to the user unless the tree is told to browse it.
    bool zipFolder = ns->Folder() && StrICompW(ns->Extension().c_str(), L".zip") == 0;
    bool execFolder = !LETMiscOption(toBrowseExecuteFolder) || (zipFolder && !LETMiscOption(toBrowseExecuteZipFolder));
    return ns->ShellExecuteNamespace(workingDir, parameters, execFolder, !LETMiscOption(toBrowseExecuteFolderShortcut));
}

// ---- renaming -----------------------------------------------------------------------------------

namespace {
bool IsNameColumn(TCustomLazyExplorerTree& tree, TColumnIndex column) {
    return column < 0 || tree.Header().ColumnCount() == 0 || column == tree.Header().MainColumn();
}
} // namespace

bool TCustomLazyExplorerTree::IsCustomColumn(TColumnIndex column) {
    if (!Header().Columns().IsColumnIndexValid(column) || IsNameColumn(*this, column)) return false;
    switch (columnDetails_) {
    case cdUser: return true;
    case cdLETColumns: return ColumnKind(column) == cdCustom;
    case cdShellColumns: return column >= shellColumnCount_;
    }
    return false;
}

bool TCustomLazyExplorerTree::DoEditing(PLazyNode node, TColumnIndex column, bool allowed) {
    // Only names are edited, and the custom columns (the application's own).
    allowed = allowed && !LETMiscOption(toLETReadOnly) && (IsNameColumn(*this, column) || IsCustomColumn(column));
    return TCustomLazyStringTree::DoEditing(node, column, allowed);
}

void TCustomLazyExplorerTree::DoNewText(PLazyNode node, TColumnIndex column, const std::wstring& text) {
    TNamespace* ns;
    if (!IsNameColumn(*this, column) || !ValidateNamespace(node, ns)) {
        TCustomLazyStringTree::DoNewText(node, column, text);
        return;
    }
    if (LETMiscOption(toLETReadOnly)) return;
    PIDLPtr item(PIDLManager()->CopyPIDL(ns->AbsolutePIDL()));
    if (ns->SetNameOf(text)) {
        ns->Invalidate(true);
        if (item) ItemRenamed(node, item.get());
        DoNamespaceStructureChange(node, ns, nscRename);
        InvalidateNode(node);
        return;
    }
    // Handled once the editor has closed; the message names the item, not
    // the node, which a rebuild meanwhile may free.
    if (!item || !HandleAllocated()) return;
    LPITEMIDLIST posted = item.get();
    failedRenames_.push_back(std::move(item));
    if (!::PostMessageW(Handle(), WM_LETRENAMEFAILED, reinterpret_cast<WPARAM>(posted), 0)) failedRenames_.pop_back();
}

void TCustomLazyExplorerTree::ItemRenamed(PLazyNode node, LPCITEMIDLIST before) {
    LPCITEMIDLIST after = GetNodeData(node)->Namespace->AbsolutePIDL();
    // Bytes, not the shell's comparison: a change of letter case only is the
    // same item to the shell, and its new spelling must still reach the
    // stored records and the items below.
    if (CompareIDBytes(before, after) == 0) return;
    if (TRootNodeStorage* storage = GetStorage()) storage->Move(before, after);
    // The items of the nodes below still name the old list: each gets a new
    // one, made under its parent's new item (parents come first).
    std::unordered_map<TNamespace*, TNamespace*> renewed{{GetNodeData(node)->Namespace, GetNodeData(node)->Namespace}};
    std::vector<std::unique_ptr<TNamespace>> old;
    const int depth = TPIDLManager::IDCount(before);
    for (PLazyNode run = GetNextNoInit(node); run && HasAsParent(run, node); run = GetNextNoInit(run)) {
        TNamespace*& item = GetNodeData(run)->Namespace;
        if (!item) continue;
        TNamespace* fresh = nullptr;
        if (auto parent = renewed.find(item->Parent()); item->Parent() && parent != renewed.end()) {
            fresh = new TNamespace(PIDLManager()->CopyPIDL(item->RelativePIDL()), parent->second);
        } else if (krv::ILIsParent(before, item->AbsolutePIDL(), false)) {
            // A custom node's item of its own below the old list.
            LPCITEMIDLIST tail = item->AbsolutePIDL();
            for (int k = 0; k < depth; ++k) tail = TPIDLManager::NextID(tail);
            fresh = new TNamespace(PIDLManager()->AppendPIDL(after, tail));
        } else {
            continue;
        }
        // A request still queued names the old item, which goes below (and
        // its answer would be stale): the new item asks again.
        DropIconRequest(run);
        renewed[item] = fresh;
        old.emplace_back(std::exchange(item, fresh));
    }
    // Children before their parents, whose items they point at.
    while (!old.empty()) old.pop_back();
}

void TCustomLazyExplorerTree::RenameFailed(LPITEMIDLIST pidl) {
    auto pending = std::find_if(failedRenames_.begin(), failedRenames_.end(),
                                [pidl](const PIDLPtr& item) { return item.get() == pidl; });
    if (pending == failedRenames_.end()) return;   // not ours, or already handled
    PIDLPtr item = std::move(*pending);
    failedRenames_.erase(pending);
    ::MessageBeep(MB_OK);
    // The nodes may have been rebuilt meanwhile: the item's node is made again where needed.
    if (PLazyNode node = InternalWalkToPIDL(item.get(), false, true, false, true)) EditNodeName(node);
}

bool TCustomLazyExplorerTree::EditNodeName(PLazyNode node) {
    return node && EditNode(node, Header().ColumnCount() > 0 ? 0 : ColumnNone);
}

bool TCustomLazyExplorerTree::DoEndEdit() {
    bool result = TCustomLazyStringTree::DoEndEdit();
    // The change notifier reports a rename a moment after the shell made it:
    // its notifications are awaited (at most ShellNotifyWaitMs) and applied
    // before anything reads the tree again. Not before the base end-edit: the
    // rename is made there, and a notification applied while the editor is
    // still open may add a node, which cancels the edit and loses the name typed.
    const DWORD start = ::GetTickCount();
    MSG msg;
    for (;;) {
        while (HandleAllocated() && ::PeekMessageW(&msg, Handle(), WM_SHELLNOTIFY, WM_SHELLNOTIFY, PM_REMOVE))
            ::DispatchMessageW(&msg);
        DWORD elapsed = ::GetTickCount() - start;
        if (!changeNotifierRegistered_ || !HandleAllocated() || elapsed >= ShellNotifyWaitMs) break;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ShellNotifyWaitMs - elapsed, QS_POSTMESSAGE);
    }
    return result;
}

// ---- New Folder ------------------------------------------------------------------------------------

bool TCustomLazyExplorerTree::CreateNewFolder(LPCITEMIDLIST parentPIDL, const std::wstring& suggestedName,
                                              std::wstring& newName) {
    if (!MiscOption(toEditable))
        throw EAssertionFailed("You must set the toEditable option to Edit paths (LazyExplorerTree)");
    newName.clear();
    if (!parentPIDL) return false;
    TNamespace parentItem(PIDLManager()->CopyPIDL(parentPIDL));
    std::wstring parentPath = parentItem.NameForParsing();
    if (!parentItem.FileSystem() || !DirExistsW(parentPath)) return false;
    PLazyNode parent = InternalWalkToPIDL(parentPIDL, false, true, false, true);
    TNamespace* parentNs;
    if (!ValidateNamespace(parent, parentNs)) return false;
    if (parent != RootNode() && !Expanded(parent)) SetExpanded(parent, true);
    std::wstring path = UniqueDirName(parentPath, suggestedName);
    if (path.empty() || !::CreateDirectoryW(path.c_str(), nullptr)) return false;
    std::wstring name = path.substr(path.find_last_of(L'\\') + 1);

    // The shell may see the new folder a moment later than the file system.
    IShellFolder* folder = parentNs->ShellFolder();
    PIDLPtr child;
    for (int attempt = 0; folder && attempt < 200 && !child; ++attempt) {
        ULONG eaten = 0;
        if (FAILED(folder->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(name.c_str()), &eaten, child.put(),
                                            nullptr)))
            child.reset();
        if (!child) ::Sleep(10);
    }
    if (!child) return false;
    PLazyNode node = nullptr;
    for (PLazyNode run = parent->FirstChild; run && !node; run = run->NextSibling) {
        TNamespace* ns;
        if (ValidateNamespace(run, ns) && CompareStorageIDs(folder, ns->RelativePIDL(), child.get()) == 0) node = run;
    }
    if (!node) {
        auto ns = std::make_unique<TNamespace>(child.release(), parentNs);
        node = AddCustomNode(parent, ns.release(), MiscOption(toCheckSupport), ctTriStateCheckBox);
    }
    if (!node) return false;
    ClearSelection();
    SetFocusedNode(node);
    SetSelected(node, true);
    EditNodeName(node);
    TNamespace* ns;
    if (ValidateNamespace(node, ns)) newName = ns->NameForEditingInFolder();
    return true;
}

// ---- drag ---------------------------------------------------------------------------------------

bool TCustomLazyExplorerTree::DoDragAllowed(PLazyNode node, TColumnIndex column) {
    TNamespace* ns;
    if (LETMiscOption(toLETReadOnly) || !TreeOptions().LETShellOptions().Contains(toDragDrop) ||
        !MiscOption(toAcceptOLEDrop) || !ValidateNamespace(node, ns) || ns->IsDesktop())
        return false;
    bool allowed = true;
    if (OnDragAllowed) OnDragAllowed(this, node, column, allowed);
    return allowed;
}

// ---- colours and hints -------------------------------------------------------------------------------

void TCustomLazyExplorerTree::DoPaintText(TCanvas& canvas, PLazyNode node, TColumnIndex column,
                                          TLSTTextType textType) {
    TNamespace* ns;
    bool hot = TreeOptions().PaintOptions().Contains(toHotTrack) && node == HotNode();
    bool keepColour = FolderOption(toNoUseLETColorsProp) || Selected(node) || node == DropTargetNode() || hot;
    if (!keepColour && ValidateNamespace(node, ns)) {
        bool compressed = ns->Compressed();
        if (IsNameColumn(*this, column))
            canvas.Font.SetColor(compressed    ? letColors_.CompressedTextColor()
                                 : ns->Folder() ? letColors_.FolderTextColor()
                                                : letColors_.FileTextColor());
        else if (compressed)
            canvas.Font.SetColor(letColors_.CompressedTextColor());
    }
    TCustomLazyStringTree::DoPaintText(canvas, node, column, textType);
}

std::wstring TCustomLazyExplorerTree::DoGetNodeHint(PLazyNode node, TColumnIndex column) {
    TNamespace* ns;
    if (TreeOptions().LETShellOptions().Contains(toShellHints) && ValidateNamespace(node, ns)) return ns->InfoTip();
    return TCustomLazyStringTree::DoGetNodeHint(node, column);
}

} // namespace krv

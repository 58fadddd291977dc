// What the shell item does through the shell: verbs of its folder's context
// menu on sibling items, their data object, the shown context menu, opening
// the item, and drops onto it.
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/item/ShellLink.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Menus.h"
#include "framework/Window.h"
#include <map>

namespace krv {

namespace {
constexpr UINT FirstCommand = 1;
constexpr UINT LastCommand = 0x7FFF;
const wchar_t* const NotSiblingsText = L"PIDLs to operate on are not siblings of the Namespace doing the operation.";

std::wstring CommandVerb(IContextMenu* menu, UINT offset) {
    if (IsWinNT()) {
        wchar_t verb[128] = {};
        if (SUCCEEDED(menu->GetCommandString(offset, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(verb), 128)))
            return std::wstring(verb, wcsnlen(verb, 128));
        return std::wstring();
    }
    char verb[128] = {};
    if (SUCCEEDED(menu->GetCommandString(offset, GCS_VERBA, nullptr, verb, 128)))
        return AnsiToWide(std::string(verb, strnlen(verb, 128)));
    return std::wstring();
}

// Every command id of a menu and its sub-menus.
void CollectCommands(HMENU menu, std::vector<UINT>& ids) {
    int count = ::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        if (HMENU sub = ::GetSubMenu(menu, i)) CollectCommands(sub, ids);
        else if (UINT id = ::GetMenuItemID(menu, i); id != static_cast<UINT>(-1) && id != 0) ids.push_back(id);
    }
}

bool InvokeCommandOffset(IContextMenu* menu, HWND owner, UINT offset) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.hwnd = owner;
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.nShow = SW_SHOWNORMAL;
    return SUCCEEDED(menu->InvokeCommand(&info));
}

// Adds the children of an item of ours to a menu; each leaf takes the first
// command id the menu does not use yet.
void MergeMenuItems(HMENU root, HMENU into, TMenuItem* parent, std::map<UINT, TMenuItem*>& merged) {
    for (int i = 0; i < parent->Count(); ++i) {
        TMenuItem* item = parent->Items(i);
        std::wstring caption = AnsiToWide(item->Caption());
        UINT enabled = item->Enabled() ? MF_ENABLED : MF_GRAYED;
        if (item->Caption() == "-") {
            ::AppendMenuW(into, MF_SEPARATOR, 0, nullptr);
        } else if (item->Count() > 0) {
            HMENU sub = ::CreatePopupMenu();   // owned by the menu it joins
            MergeMenuItems(root, sub, item, merged);
            ::AppendMenuW(into, MF_POPUP | MF_STRING | enabled, reinterpret_cast<UINT_PTR>(sub), caption.c_str());
        } else {
            UINT id = FirstCommand;
            while (::GetMenuState(root, id, MF_BYCOMMAND) != static_cast<UINT>(-1) || merged.count(id)) ++id;
            merged[id] = item;
            ::AppendMenuW(into, MF_STRING | enabled | (item->Checked() ? MF_CHECKED : 0), id, caption.c_str());
        }
    }
}

// The hidden window that owns a shown context menu and hands the menu's
// drawing and initialisation messages to the shell's menu object.
class TContextMenuHost : public TWindow {
public:
    TContextMenuHost(HWND owner, ComPtr<IContextMenu> menu, std::function<void(UINT, HMENU, UINT)> onSelect)
        : menu_(std::move(menu)), onSelect_(std::move(onSelect)) {
        menu2_ = menu_.As<IContextMenu2>(IID_IContextMenu2);
        menu3_ = menu_.As<IContextMenu3>(IID_IContextMenu3);
        RegisterWindowClass("KrvContextMenuHost", 0);
        CreateWindowHandle("KrvContextMenuHost", "", WS_POPUP, 0, 0, 0, 0, 0, owner);
    }
    ~TContextMenuHost() override { DestroyHandle(); }

protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        switch (msg) {
        case WM_INITMENUPOPUP:
        case WM_DRAWITEM:
        case WM_MEASUREITEM:
        case WM_MENUCHAR:
            if (menu3_ && SUCCEEDED(menu3_->HandleMenuMsg2(msg, wParam, lParam, &result))) return true;
            if (menu2_ && msg != WM_MENUCHAR && SUCCEEDED(menu2_->HandleMenuMsg(msg, wParam, lParam))) {
                result = 0;
                return true;
            }
            return false;
        case WM_MENUSELECT:
            if (onSelect_) {
                UINT flags = HIWORD(wParam), item = LOWORD(wParam);
                HMENU sub = (flags & MF_POPUP) ? ::GetSubMenu(reinterpret_cast<HMENU>(lParam), int(item)) : nullptr;
                onSelect_(item, sub, flags);
            }
            return TWindow::HandleMessage(msg, wParam, lParam, result);
        default:
            return TWindow::HandleMessage(msg, wParam, lParam, result);
        }
    }

private:
    ComPtr<IContextMenu> menu_;
    ComPtr<IContextMenu2> menu2_;
    ComPtr<IContextMenu3> menu3_;
    std::function<void(UINT, HMENU, UINT)> onSelect_;
};
} // namespace

bool TNamespace::SiblingsOk(const TNamespaceArray& items) {
    bool ok;
    if (IsDesktop()) {
        ok = items.size() == 1 && items[0]->IsDesktop();
    } else {
        ok = ParentShellFolder() && parent_;
        for (TNamespace* item : items)
            ok = ok && item && krv::ILIsParent(parent_->AbsolutePIDL(), item->AbsolutePIDL(), true);
    }
    if (!ok && !IsDesktop()) WideMessageBox(nullptr, L"Error", NotSiblingsText);
    return ok;
}

HRESULT TNamespace::UIObjectOf(const TNamespaceArray& items, REFIID iid, void** out) {
    *out = nullptr;
    IShellFolder* folder = ParentShellFolder();
    if (!folder || items.empty()) return E_FAIL;
    std::vector<LPITEMIDLIST> relative = NamespacesToRelativePIDLs(items);
    return folder->GetUIObjectOf(nullptr, static_cast<UINT>(relative.size()),
                                 const_cast<LPCITEMIDLIST*>(relative.data()), iid, nullptr, out);
}

ComPtr<IContextMenu> TNamespace::ContextMenuOf(const TNamespaceArray& items) {
    ComPtr<IContextMenu> menu;
    if (FAILED(UIObjectOf(items, IID_IContextMenu, menu.put_void()))) menu.reset();
    return menu;
}

bool TNamespace::InvokeVerb(const char* verb, const TNamespaceArray& items) {
    if (!SiblingsOk(items)) return false;
    ComPtr<IContextMenu> cm = ContextMenuOf(items);
    if (!cm) return false;
    MenuHandle menu(::CreatePopupMenu());
    if (!menu || FAILED(cm->QueryContextMenu(menu.get(), 0, FirstCommand, LastCommand, CMF_EXPLORE))) return false;
    std::vector<UINT> ids;
    CollectCommands(menu.get(), ids);
    std::wstring wanted = AnsiToWide(verb);
    for (UINT id : ids) {
        if (id < FirstCommand || id > LastCommand) continue;
        std::wstring found = CommandVerb(cm.get(), id - FirstCommand);
        if (!found.empty() && StrICompW(found.c_str(), wanted.c_str()) == 0)
            return InvokeCommandOffset(cm.get(), nullptr, id - FirstCommand);
    }
    return false;
}

bool TNamespace::Copy(const TNamespaceArray& items) { return InvokeVerb("copy", items); }
bool TNamespace::Cut(const TNamespaceArray& items) { return AllCanDelete(items) && InvokeVerb("cut", items); }
bool TNamespace::Delete(const TNamespaceArray& items) { return AllCanDelete(items) && InvokeVerb("delete", items); }
bool TNamespace::ShowPropertySheet(const TNamespaceArray& items) {
    return AllHavePropSheet(items) && InvokeVerb("properties", items);
}

bool TNamespace::Paste(const TNamespaceArray& items) {
    if (!AnyNamespace(items)) return false;
    // The desktop's own files live in the desktop directory.
    if (IsDesktop() && DesktopDirectoryFolder && DesktopDirectoryFolder != this)
        return DesktopDirectoryFolder->Paste(TNamespaceArray{DesktopDirectoryFolder});
    return InvokeVerb("paste", items);
}

ComPtr<IDataObject> TNamespace::DataObject(const TNamespaceArray& items) {
    ComPtr<IDataObject> data;
    if (items.empty() || !SiblingsOk(items)) return data;
    if (FAILED(UIObjectOf(items, IID_IDataObject, data.put_void()))) data.reset();
    return data;
}

bool TNamespace::ShowContextMenu(HWND owner, POINT screenPoint, const TNamespaceArray& items, TMenuItem* merge,
                                 const TContextMenuCmdEvent& onCommand) {
    TContextMenuHooks hooks;
    hooks.OnCommand = onCommand;
    return ShowContextMenu(owner, screenPoint, items, merge, hooks);
}

bool TNamespace::ShowContextMenu(HWND owner, POINT screenPoint, const TNamespaceArray& items, TMenuItem* merge,
                                 const TContextMenuHooks& hooks) {
    TErrorModeScope quiet(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (items.empty() || !SiblingsOk(items)) return false;
    ComPtr<IContextMenu> cm = ContextMenuOf(items);
    if (!cm) return false;
    MenuHandle menu(::CreatePopupMenu());
    UINT flags = CMF_EXPLORE | (::GetKeyState(VK_SHIFT) < 0 ? CMF_EXTENDEDVERBS : 0);
    if (!menu || FAILED(cm->QueryContextMenu(menu.get(), 0, FirstCommand, LastCommand, flags))) return false;
    std::map<UINT, TMenuItem*> merged;
    if (merge) MergeMenuItems(menu.get(), menu.get(), merge, merged);
    auto verbOf = [&cm](UINT id) {
        return id >= FirstCommand && id <= LastCommand ? CommandVerb(cm.get(), id - FirstCommand) : std::wstring();
    };
    if (hooks.OnShow && !hooks.OnShow(menu.get(), verbOf)) return false;

    TContextMenuHost host(owner, cm, hooks.OnMenuSelect);
    if (!host.HandleAllocated()) return false;
    ::SetForegroundWindow(host.Handle());
    UINT chosen = static_cast<UINT>(::TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, screenPoint.x,
                                                       screenPoint.y, host.Handle(), nullptr));
    ::PostMessageA(host.Handle(), WM_NULL, 0, 0);   // lets the menu close properly
    if (chosen == 0) return false;

    if (auto own = merged.find(chosen); own != merged.end()) {
        own->second->Click();
        return true;
    }
    std::wstring verb = CommandVerb(cm.get(), chosen - FirstCommand);
    if (verb.empty()) verb = L"Unknown Command";
    bool handled = false;
    if (hooks.OnCommand) hooks.OnCommand(this, verb, static_cast<int>(chosen), handled);
    bool ran = handled || InvokeCommandOffset(cm.get(), owner, chosen - FirstCommand);
    if (hooks.OnAfterCommand) hooks.OnAfterCommand(this, verb, static_cast<int>(chosen), ran);
    return true;
}

bool TNamespace::ShellExecuteNamespace(const std::wstring& workingDir, const std::wstring& parameters, bool execFolder,
                                       bool execFolderShortcut) {
    if (Folder() && !execFolder) return false;
    std::wstring path = NameParseAddress();
    if (Link()) {
        TLazyShellLink link;
        link.ReadFromFile(path);
        if (!execFolderShortcut && !link.TargetPath.empty() && DirExistsW(link.TargetPath)) return false;
    }
    std::wstring directory = DirExistsW(workingDir) ? workingDir : ExtractFileDirW(path);
    KernelHandle process;
    BOOL ok;
    if (auto execW = WideFunctions().ShellExecuteExW) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_NOCLOSEPROCESS;
        info.hwnd = ApplicationWindow();
        info.lpIDList = AbsolutePIDL();
        info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
        info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
        info.nShow = SW_SHOWNORMAL;
        ok = execW(&info);
        process.reset(info.hProcess);
    } else {
        std::string parametersA = WideToAnsi(parameters), directoryA = WideToAnsi(directory);
        SHELLEXECUTEINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_NOCLOSEPROCESS;
        info.hwnd = ApplicationWindow();
        info.lpIDList = AbsolutePIDL();
        info.lpParameters = parametersA.empty() ? nullptr : parametersA.c_str();
        info.lpDirectory = directoryA.empty() ? nullptr : directoryA.c_str();
        info.nShow = SW_SHOWNORMAL;
        ok = ::ShellExecuteExA(&info);
        process.reset(info.hProcess);
    }
    return ok != 0;
}

HRESULT TNamespace::DragEnter(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) {
    IDropTarget* target = DropTarget() ? DropTargetInterface() : nullptr;
    return target ? target->DragEnter(data, keys, pt, effect) : E_FAIL;
}

HRESULT TNamespace::DragOver(DWORD keys, POINTL pt, DWORD* effect) {
    IDropTarget* target = DropTarget() ? DropTargetInterface() : nullptr;
    return target ? target->DragOver(keys, pt, effect) : E_FAIL;
}

HRESULT TNamespace::DragLeave() {
    IDropTarget* target = DropTarget() ? DropTargetInterface() : nullptr;
    return target ? target->DragLeave() : E_FAIL;
}

HRESULT TNamespace::Drop(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) {
    IDropTarget* target = DropTarget() ? DropTargetInterface() : nullptr;
    return target ? target->Drop(data, keys, pt, effect) : E_FAIL;
}

} // namespace krv

// The main window's folder tree: its set-up, the handlers of its events
// (which items are shown, which may be ticked, how a tick spreads to the
// subfolders), the session's ticks into the tree and back, and what the
// folder scan reads of it. The tree's storage holds the ticks; the window
// keeps no copy of them.
#include "app/Log.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "framework/SysUtils.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include <algorithm>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace krv {

namespace {

bool SameItem(TNamespace* ns, TNamespace* special) {
    return ns && special && ns->AbsolutePIDL() && special->AbsolutePIDL() &&
           krv::ILIsEqual(ns->AbsolutePIDL(), special->AbsolutePIDL());
}

// Pre-order over the nodes that exist below the tree's root; none is made.
template <class F> void ForEachExistingNode(TBaseLazyTree& tree, F&& visit) {
    std::vector<PLazyNode> stack;
    for (PLazyNode n = tree.RootNode()->LastChild; n; n = n->PrevSibling) stack.push_back(n);
    while (!stack.empty()) {
        PLazyNode node = stack.back();
        stack.pop_back();
        visit(node);
        for (PLazyNode c = node->LastChild; c; c = c->PrevSibling) stack.push_back(c);
    }
}

// Paths as the scan compares them: without trailing separators, by their
// exact names ("data" and "DATA" are two folders where a folder holds both;
// the paths here are the tree's, real names). A set, so that a session of
// thousands of folders is not compared pair by pair.
std::string PathKey(const std::string& path) { return SystemRoot(ScanPath(path)); }

class TPathSet {
public:
    TPathSet() = default;
    explicit TPathSet(const TStringList& list) {
        for (int i = 0; i < list.Count(); ++i) Add(list[i]);
    }
    // False when the path was there already.
    bool Add(const std::string& path) { return keys_.insert(PathKey(path)).second; }
    bool Contains(const std::string& path) const { return keys_.count(PathKey(path)) > 0; }

private:
    std::unordered_set<std::string> keys_;
};

} // namespace

// ------------------------------------------------------------ set-up

void TMainForm::BuildDirTree() {
    DirTree = new TLazyExplorerTreeview(this);
    DirTree->SetName("DirTree");
    if (!DirTree->GetStorage()) DirTree->SetCheckStorage(MakeRootCheckStorage());
    DirTree->SetAlign(alClient);
    DirTree->SetRootFolder(rfDrives);
    DirTree->SetFileSort(fsFileType);
    DirTree->SetCheckImageKind(ckDarkTick);
    DirTree->SetColumnDetails(cdUser);
    DirTree->Header().SetAutoSizeIndex(0);
    DirTree->Header().SetOptions({hoColumnResize, hoDrag});
    DirTree->SetDefaultNodeHeight(17);
    DirTree->SetFileSizeFormat(fsfExplorer);
    auto& options = DirTree->TreeOptions();
    options.SetAutoOptions({toAutoScroll});
    options.SetMiscOptions({toToggleOnDblClick, toCheckSupport});
    options.SetPaintOptions({toUseBlendedImages, toGhostedIfUnfocused, toShowButtons, toShowTreeLines});
    options.SetSelectionOptions({toRightClickSelect, toSiblingSelectConstraint});
    options.SetStringOptions({toSaveCaptions});
    options.SetLETFolderOptions({toFoldersExpandable, toForceHideRecycleBin});
    options.SetLETShellOptions({});
    options.SetLETSyncOptions({toCollapseTargetFirst, toSelectTarget, toExpandTarget});
    options.SetLETMiscOptions({toRemoveContextMenuShortCut, toBrowseExecuteFolderShortcut, toBrowseExecuteFolder});
    options.SetLETImageOptions({toImages, toThreadedImages});
    DirTree->OnInitNode = [this](TBaseLazyTree*, PLazyNode parent, PLazyNode node, TLazyNodeInitStates& states) {
        DirTreeInitNode(parent, node, states);
    };
    DirTree->OnEnumFolder = [this](TCustomLazyExplorerTree*, TNamespace* ns, bool& allow) { DirTreeEnumFolder(ns, allow); };
    DirTree->OnChecking = [this](TBaseLazyTree*, PLazyNode node, TCheckState& state, bool& allowed) {
        DirTreeChecking(node, state, allowed);
    };
    DirTree->OnChecked = [this](TBaseLazyTree*, PLazyNode node) {
        // "Open on tick" opens the folder once its tick is set: opened while
        // the tick was pending, the tree's wait for its worker could take the
        // key's or button's release first and the tick would be lost.
        if (Settings.ExSubDir && SubFoldersCheck->Checked() && IsTicked(node)) DirTree->SetExpanded(node, true);
        DirTreeChecked();
    };
    DirTree->OnExpanding = [this](TBaseLazyTree*, PLazyNode node, bool& allowed) { DirTreeExpanding(node, allowed); };
    DirTree->OnExpanded = [this](TBaseLazyTree*, PLazyNode node) { DirTreeExpanded(node); };
    // Placed last: on a window that exists already, this makes the tree's
    // own window, which then starts with every option above.
    DirTree->SetParent(PanelTree);
    PanelTree->Realign();
}

void TMainForm::InitDirTree() {
    AddLog(KV_Tree_Start, lcBlack, 3, lkDetail);
    DirTree->BeginUpdate();
    DirTree->SetActive(true);
    PLazyNode drives = DrivesFolder ? DirTree->FindNodeByPIDL(DrivesFolder->AbsolutePIDL()) : nullptr;
    PLazyNode desktop = DesktopFolder ? DirTree->FindNodeByPIDL(DesktopFolder->AbsolutePIDL()) : nullptr;
    if (drives) DirTree->SetExpanded(drives, true);
    if (desktop) DirTree->SetExpanded(desktop, true);
    DirTree->EndUpdate();
    AddLog(KV_Tree_Found, lcBlue, 3, lkDetail);
}

// ------------------------------------------------------------ handlers

void TMainForm::DirTreeInitNode(PLazyNode, PLazyNode node, TLazyNodeInitStates&) {
    node->CheckType = ctTriStateCheckBox;
}

void TMainForm::DirTreeEnumFolder(TNamespace* ns, bool& allowAsChild) {
    allowAsChild = ns && (ns->FileSystem() || ns->IsMyComputer());
}

bool TMainForm::IsCheckable(TNamespace* ns) const {
    if (!ns || !ns->Folder()) return true;
    return !(ns->IsDesktop() || ns->IsMyComputer() || SameItem(ns, NetworkFolder) || SameItem(ns, PrintersFolder) ||
             SameItem(ns, HistoryFolder) || SameItem(ns, RecycleBinFolder));
}

void TMainForm::DirTreeChecking(PLazyNode node, TCheckState& newState, bool&) {
    TNamespace* ns = nullptr;
    if (!DirTree->ValidateNamespace(node, ns)) return;
    const bool toTicked = newState == csCheckedNormal || newState == csCheckedPressed;
    const bool toUnticked = newState == csUncheckedNormal || newState == csUncheckedPressed;
    if (!IsCheckable(ns) && (toTicked || toUnticked)) {
        newState = csUncheckedNormal;
        return;
    }
    const bool ticked = IsTicked(node);
    if (SubFoldersCheck->Checked()) {
        PushCheckState(node, newState);
        DirTree->Invalidate();
    } else if (toUnticked && ticked) {
        // The storage drops a record with everything below it; without
        // subfolders the ticks below are the user's own and stay.
        const std::string path = NodePath(node);
        for (const std::string& p : CheckedPaths())
            if (PathIsInside(p, path)) keptTicks_.Add(p);
    }
    const std::string name = WideToAnsi(ns->NameParseAddress());
    if (toUnticked && ticked) {
        AddLog(KV_UnCheckFolder + name, lcBlack, 3, lkNormal);
        Session.Modified = true;
    } else if (toTicked && !ticked) {
        AddLog(KV_CheckFolder + name, lcBlack, 3, lkNormal);
        Session.Modified = true;
    } else if (newState > csMixedPressed) {
        AddLog(KV_UnKnownCheckFolder + name, lcBlack, 3, lkNormal);
    }
}

void TMainForm::PushCheckState(PLazyNode node, TCheckState state) {
    std::vector<PLazyNode> stack;
    for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) stack.push_back(c);
    while (!stack.empty()) {
        PLazyNode n = stack.back();
        stack.pop_back();
        n->CheckState = state;
        for (PLazyNode c = n->FirstChild; c; c = c->NextSibling) stack.push_back(c);
    }
}

void TMainForm::DirTreeExpanding(PLazyNode node, bool&) {
    // Said afresh for every expand: a flag left over from an expand whose end
    // was not handled (a vetoed one, or one while the scan walks) must not
    // keep the next folder opened from getting its parent's tick.
    SkipNextExpandPush = node && node->ChildCount > 0;
}

void TMainForm::DirTreeExpanded(PLazyNode node) {
    const bool hadChildren = std::exchange(SkipNextExpandPush, false);
    if (!TreeEventsOn || hadChildren) return;
    // Only a tick is handed down: a new child without a tick has nothing to
    // learn, and one the storage holds ticked was ticked by the user.
    if (SubFoldersCheck->Checked() && IsTicked(node)) PushCheckState(node, TCheckState(node->CheckState));
}

void TMainForm::DirTreeChecked() {
    if (!keptTicks_.Empty()) {
        // Put back the ticks below an unticked folder that the storage dropped with it.
        TStringList all;
        TPathSet known;
        for (const std::string& p : CheckedPaths())
            if (known.Add(p)) all.Add(p);
        for (int i = 0; i < keptTicks_.Count(); ++i)
            if (known.Add(keptTicks_[i])) all.Add(keptTicks_[i]);
        keptTicks_.Clear();
        DirTree->GetStorage()->SetCheckedPaths(all);
    }
    Session.Modified = true;
    UpdateStartButton();
    ButtonUpdateSize->SetEnabled(true);
}

// ------------------------------------------------------ the ticks

std::string TMainForm::NodePath(PLazyNode node) const {
    TNamespace* ns = nullptr;
    if (!DirTree->ValidateNamespace(node, ns) || !ns->FileSystem()) return {};
    // Compared by their bytes with the paths a person gave (EntryPath's): the root spelled alike.
    return WideToAnsi(SystemRoot(ns->NameParseAddress()));
}

std::vector<std::string> TMainForm::CheckedPaths() {
    std::vector<std::string> paths = DirTree->GetStorage()->GetCheckedPaths().ToVector();
    for (std::string& p : paths) p = SystemRoot(p);
    return paths;
}

void TMainForm::ClearTreeChecks() {
    DirTree->GetStorage()->Clear(false);
    ForEachExistingNode(*DirTree, [](PLazyNode node) {
        if (node->CheckState != csUncheckedPressed) node->CheckState = csUncheckedNormal;
    });
    DirTree->Invalidate();
    DirTree->RebuildTreeAfterClearingChecks();
    UnfoundSelected.Clear();
    UnfoundUnselected.Clear();
}

void TMainForm::RestoreTreeChecks() {
    ClearTreeChecks();
    // The walks open folders: what they show ticked is decided below, not by the expand handler.
    const bool eventsOn = TreeEventsOn;
    TreeEventsOn = false;
    DirTree->BeginUpdate();
    // Each path is parsed once, for the storage and for the walk to its node.
    TPathParser parser;
    auto parse = [&parser](const TStringList& paths) {
        std::vector<PIDLPtr> pidls;
        pidls.reserve(paths.Count());
        for (int i = 0; i < paths.Count(); ++i) pidls.emplace_back(parser.Parse(AnsiToWide(paths[i])));
        return pidls;
    };
    const std::vector<PIDLPtr> selected = parse(Session.SelectedFolders);
    DirTree->GetStorage()->SetCheckedPIDLs(selected);
    // Each path's node, made and opened on the way, with the state it is given;
    // a path without one is kept for the session in unfound.
    std::vector<std::string> tickLines;
    // The unticked folders by their real names, as the nodes have them (a
    // session may spell one otherwise where the folder ignores case).
    TPathSet unselected;
    auto restore = [this, &tickLines, &unselected](const TStringList& paths, const std::vector<PIDLPtr>& pidls,
                                                   TCheckState state, TStringList& unfound) {
        for (int i = 0; i < paths.Count(); ++i) {
            PLazyNode node = pidls[i] ? DirTree->WalkToPIDL(pidls[i].get(), true, true) : nullptr;
            TNamespace* ns = nullptr;
            if (!node || !DirTree->ValidateNamespace(node, ns)) {
                unfound.Add(paths[i]);
                continue;
            }
            node->CheckState = state;
            if (state == csCheckedNormal) tickLines.push_back(KV_CheckFolder + WideToAnsi(ns->NameParseAddress()));
            else unselected.Add(NodePath(node));
        }
    };
    restore(Session.SelectedFolders, selected, csCheckedNormal, UnfoundSelected);
    restore(Session.UnselectedFolders, parse(Session.UnselectedFolders), csUncheckedNormal, UnfoundUnselected);
    AddLogLines(tickLines, lcBlack, 3, lkNormal);
    // A ticked folder that is not there is said in red: the backup will lack it.
    for (int i = 0; i < UnfoundSelected.Count(); ++i) FolderLeftOut(UnfoundSelected[i]);
    if (Session.SubFolders) {
        // A ticked folder opened on the way hands its tick to the children
        // the session does not name: those made since the session was saved
        // are backed up with their parent, as the tick means.
        ForEachExistingNode(*DirTree, [this, &unselected](PLazyNode node) {
            if (!IsTicked(node)) return;
            for (PLazyNode c = node->FirstChild; c; c = c->NextSibling)
                if (c->CheckState == csUncheckedNormal && !unselected.Contains(NodePath(c)))
                    c->CheckState = csCheckedNormal;
        });
    }
    DirTree->EndUpdate();
    TreeEventsOn = eventsOn;
}

void TMainForm::TreeChecksToSession() {
    Session.SelectedFolders.Clear();
    Session.UnselectedFolders.Clear();
    ForEachExistingNode(*DirTree, [this](PLazyNode node) {
        TNamespace* ns = nullptr;
        if (!DirTree->ValidateNamespace(node, ns)) return;
        if (IsTicked(node)) {
            Session.SelectedFolders.Add(WideToAnsi(ns->NameParseAddress()));
        } else if ((node->CheckState == csUncheckedNormal || node->CheckState == csUncheckedPressed) &&
                   node->Parent != DirTree->RootNode() && IsTicked(node->Parent)) {
            Session.UnselectedFolders.Add(WideToAnsi(ns->NameParseAddress()));
        }
    });
    TPathSet selected(Session.SelectedFolders), unselected(Session.UnselectedFolders);
    for (int i = 0; i < UnfoundSelected.Count(); ++i)
        if (selected.Add(UnfoundSelected[i])) Session.SelectedFolders.Add(UnfoundSelected[i]);
    for (int i = 0; i < UnfoundUnselected.Count(); ++i)
        if (unselected.Add(UnfoundUnselected[i])) Session.UnselectedFolders.Add(UnfoundUnselected[i]);
}

// ------------------------------------------------------- the scan

std::vector<std::string> TMainForm::ScanStartPaths() {
    std::vector<std::string> paths = CheckedPaths();
    TPathSet known;
    for (const std::string& p : paths) known.Add(p);
    auto add = [&](const std::string& p) {
        if (!p.empty() && known.Add(p)) paths.push_back(p);
    };
    // The storage lists only folders that exist: a ticked one that is gone
    // is still walked to, so that the scan names it.
    for (int i = 0; i < UnfoundSelected.Count(); ++i) add(UnfoundSelected[i]);
    ForEachExistingNode(*DirTree, [&](PLazyNode node) {
        if (IsTicked(node) && (node->Parent == DirTree->RootNode() || !IsTicked(node->Parent))) add(NodePath(node));
    });
    return paths;
}

TFolderTreeAccess TMainForm::FolderAccess() {
    TFolderTreeAccess access;
    access.Tree = DirTree;
    access.NodePath = [this](PLazyNode node) { return NodePath(node); };
    // The ticked folders' lists as the storage holds them, so that the walk
    // to each needs no parse of its path; other paths are parsed, by one
    // parser, as the folders of a selection often share parents.
    struct TLookup {
        std::unordered_map<std::string, PIDLPtr> stored;
        TPathParser parser;
    };
    auto lookup = std::make_shared<TLookup>();
    TRootNodeStorage* storage = DirTree->GetStorage();
    const TStringList& paths = storage->GetCheckedPaths();
    const std::vector<PIDLPtr>& pidls = storage->CheckedPIDLs();
    for (int i = 0; i < paths.Count() && i < static_cast<int>(pidls.size()); ++i)
        if (pidls[i]) lookup->stored.emplace(PathKey(paths[i]), PIDLManager()->CopyPIDL(pidls[i].get()));
    access.WalkToPath = [this, lookup](const std::string& path) -> PLazyNode {
        TNamespace* ns = nullptr;
        PIDLPtr parsed;
        auto known = lookup->stored.find(PathKey(path));
        LPCITEMIDLIST pidl = known != lookup->stored.end() ? known->second.get()
                                                           : (parsed.reset(lookup->parser.Parse(AnsiToWide(path))), parsed.get());
        PLazyNode node = pidl ? DirTree->WalkToPIDL(pidl, true, true) : nullptr;
        return DirTree->ValidateNamespace(node, ns) ? node : nullptr;
    };
    return access;
}

void TMainForm::FolderLeftOut(const std::string& path) {
    AddLog(path + " " + KV_ZPFileNotFound, lcRed, 0, lkNormal);
}

} // namespace krv

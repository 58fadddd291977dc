// Cut, copy and paste of nodes through the clipboard, and the copy or move
// that runs when node data arrives (paste or drop). Nodes travel as node
// chunks of the tree stream; data from outside is read with the stream's
// bounds checks, so a damaged or hostile medium cannot read past its end.
#include "tree/string/LazyStringTree.h"
#include "tree/core/LazyTreeGlobals.h"
#include "tree/core/LazyTrees.h"
#include <cstring>

namespace krv {

namespace {
CLIPFORMAT TreeDataFormat() {
    static const CLIPFORMAT format = CLIPFORMAT(::RegisterClipboardFormatA("Lazy Tree Data"));
    return format;
}

// The node chunks of a medium as a stream of their own: the bytes after the
// u32 count of global memory (the count may not claim more than the block
// holds), or everything an IStream yields.
bool ReadTreeData(const STGMEDIUM& medium, TMemoryStream& out) {
    if (medium.tymed == TYMED_HGLOBAL) {
        SIZE_T blockSize = ::GlobalSize(medium.hGlobal);
        if (blockSize < 4) return false;
        bool fits;
        {
            GlobalLockScope lock(medium.hGlobal);
            const auto* p = lock.as<const uint8_t>();
            if (!p) return false;
            uint32_t count;
            std::memcpy(&count, p, 4);
            fits = count <= blockSize - 4;
            if (fits) out.WriteBuffer(p + 4, count);
        }
        out.SetPosition(0);
        return fits;
    }
    if (medium.tymed == TYMED_ISTREAM && medium.pstm) {
        LARGE_INTEGER zero{};
        medium.pstm->Seek(zero, STREAM_SEEK_SET, nullptr);
        uint8_t buffer[16384];
        for (;;) {
            ULONG n = 0;
            HRESULT hr = medium.pstm->Read(buffer, sizeof buffer, &n);
            if (FAILED(hr)) return false;
            if (n == 0) break;
            out.WriteBuffer(buffer, n);
        }
        out.SetPosition(0);
        return true;
    }
    return false;
}

HRESULT WriteStreamMedium(TMemoryStream& chunks, STGMEDIUM& medium) {
    ComPtr<IStream> stream;
    HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
    if (FAILED(hr)) return hr;
    ULONG written = 0;
    if (chunks.Size() > 0) {
        hr = stream->Write(chunks.Memory(), ULONG(chunks.Size()), &written);
        if (FAILED(hr)) return hr;
    }
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    medium.tymed = TYMED_ISTREAM;
    medium.pstm = stream.detach();
    return S_OK;
}
}

// ---- cut and copy ---------------------------------------------------------------------------

bool TBaseLazyTree::CopyToClipboard() { return selectionCount_ > 0 && PutSelectionOnClipboard(tsCopyPending); }

bool TBaseLazyTree::CutToClipboard() {
    return selectionCount_ > 0 && !MiscOption(toReadOnly) && PutSelectionOnClipboard(tsCutPending);
}

// The previous object on the clipboard is released first, which ends its
// tree's pending cut or copy; then the selection is marked.
bool TBaseLazyTree::PutSelectionOnClipboard(TLazyTreeState pending) {
    ComPtr<IDataObject> data = ComPtr<IDataObject>::Attach(new TLTDataObject(this, true));
    if (FAILED(::OleSetClipboard(data.get()))) return false;
    MarkCutCopyNodes();
    DoStateChange(pending, pending == tsCutPending ? tsCopyPending : tsCutPending);
    RepaintTree();
    return true;
}

void TBaseLazyTree::MarkCutCopyNodes() {
    for (PLazyNode run = GetFirstNoInit(); run; run = GetNextNoInit(run)) run->States &= ~vsCutOrCopy;
    for (PLazyNode node : GetSortedSelection(false))
        if (!(node->States & vsDisabled)) node->States |= vsCutOrCopy;
}

void TBaseLazyTree::CancelCutOrCopy() {
    if (!states_.Contains(tsCutPending) && !states_.Contains(tsCopyPending)) return;
    for (PLazyNode run = GetFirstNoInit(); run; run = GetNextNoInit(run)) run->States &= ~vsCutOrCopy;
    DoStateChange({}, {tsCutPending, tsCopyPending});
    RepaintTree();
}

// ---- rendering ------------------------------------------------------------------------------------

HRESULT TBaseLazyTree::RenderOLEData(const FORMATETC& formatEtcIn, STGMEDIUM& medium, bool forClipboard) {
    medium = STGMEDIUM{};
    if (formatEtcIn.cfFormat != TreeDataFormat() || !(formatEtcIn.tymed & (TYMED_HGLOBAL | TYMED_ISTREAM)))
        return DoRenderOLEData(formatEtcIn, medium, forClipboard);
    TNodeArray nodes;
    if (forClipboard) nodes = GetSortedCutCopySet(true);
    else {
        // Descendants of a taken node travel inside it.
        for (PLazyNode node : dragSelection_)
            if (nodes.empty() || !HasAsParent(node, nodes.back())) nodes.push_back(node);
    }
    TMemoryStream chunks;
    try {
        for (PLazyNode node : nodes) WriteNode(chunks, node);
    } catch (const Exception&) {
        return E_FAIL;
    }
    if (formatEtcIn.tymed & TYMED_ISTREAM) return WriteStreamMedium(chunks, medium);
    if (chunks.Size() == 0 || chunks.Size() > 0x7FFFFFF0) return E_FAIL;
    uint32_t count = uint32_t(chunks.Size());
    std::vector<uint8_t> bytes(4 + size_t(count));
    std::memcpy(bytes.data(), &count, 4);
    std::memcpy(bytes.data() + 4, chunks.Memory(), count);
    HGLOBAL memory = GlobalFromBytes(bytes.data(), bytes.size());
    if (!memory) return E_OUTOFMEMORY;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    return S_OK;
}

// The base (and with it the application's handler) has the first say on
// every format; the text formats are the fallback.
HRESULT TCustomLazyStringTree::RenderOLEData(const FORMATETC& formatEtcIn, STGMEDIUM& medium, bool forClipboard) {
    HRESULT result = TBaseLazyTree::RenderOLEData(formatEtcIn, medium, forClipboard);
    if (SUCCEEDED(result) || formatEtcIn.cfFormat == TreeDataFormat() || !(formatEtcIn.tymed & TYMED_HGLOBAL))
        return result;
    medium = STGMEDIUM{};
    HGLOBAL text = RenderClipboardFormat(formatEtcIn.cfFormat, forClipboard ? esCutCopySet : esSelected);
    if (!text) return result;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = text;
    return S_OK;
}

HRESULT TBaseLazyTree::DoRenderOLEData(const FORMATETC& formatEtcIn, STGMEDIUM& medium, bool forClipboard) {
    HRESULT result = E_FAIL;
    if (OnRenderOLEData) OnRenderOLEData(this, formatEtcIn, medium, forClipboard, result);
    return result;
}

void TBaseLazyTree::GetNativeClipboardFormats(TFormatEtcArray& formats) {
    std::vector<std::string> allowed;
    for (int i = 0; i < clipboardFormats_.Count(); ++i) allowed.push_back(clipboardFormats_[i]);
    formats = EnumerateFormats(*this, &allowed);
    DoGetUserClipboardFormats(formats);
}

void TBaseLazyTree::DoGetUserClipboardFormats(TFormatEtcArray& formats) {
    if (OnGetUserClipboardFormats) OnGetUserClipboardFormats(this, formats);
}

ComPtr<IDataObject> TBaseLazyTree::DoCreateDataObject() {
    ComPtr<IDataObject> result;
    if (OnCreateDataObject) OnCreateDataObject(this, result);
    return result;
}

// ---- paste and arriving data ---------------------------------------------------------------------

TBaseLazyTree* TBaseLazyTree::GetTreeFromDataObject(IDataObject* dataObject) {
    if (!dataObject) return nullptr;
    FORMATETC format{InitializeGlobalStructures().ReferenceFormat, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StgMediumOwner medium;
    if (FAILED(dataObject->GetData(&format, medium.put())) || medium.get().tymed != TYMED_HGLOBAL) return nullptr;
    if (::GlobalSize(medium.get().hGlobal) < 8) return nullptr;
    uint32_t process, tree;
    {
        GlobalLockScope lock(medium.get().hGlobal);
        const auto* p = lock.as<const uint32_t>();
        if (!p) return nullptr;
        process = p[0];
        tree = p[1];
    }
    if (process != ::GetCurrentProcessId()) return nullptr;
    // Anything in this process can hand out such an object: only a live tree counts.
    auto* candidate = reinterpret_cast<TBaseLazyTree*>(uintptr_t(tree));
    return IsLiveTree(candidate) ? candidate : nullptr;
}

bool TBaseLazyTree::PasteFromClipboard() {
    if (MiscOption(toReadOnly)) return false;
    ComPtr<IDataObject> data;
    if (FAILED(::OleGetClipboard(data.put()))) ShowError("Clipboard operation failed.", 2007);
    TBaseLazyTree* source = GetTreeFromDataObject(data.get());
    bool optimized = source && source->states_.Contains(tsCutPending);

    bool result = ProcessOLEData(source, data.get(), focusedNode_, DefaultPasteMode, optimized);
    // Moving took every node that could go; one a handler refused keeps its
    // place in the source and only loses its mark.
    if (source) source->CancelCutOrCopy();
    return result;
}

bool TBaseLazyTree::ProcessOLEData(TBaseLazyTree* source, IDataObject* dataObject, PLazyNode targetNode,
                                   TLTNodeAttachMode mode, bool optimized) {
    if (!dataObject || MiscOption(toReadOnly)) return false;
    if (!targetNode) targetNode = root_;
    if (targetNode == root_) {
        if (mode == amInsertBefore) mode = amAddChildFirst;
        else if (mode == amInsertAfter) mode = amAddChildLast;
    }
    if (optimized && source) {
        TNodeArray nodes;
        if (source->states_.Contains(tsOLEDragging)) {
            // The source's own test: it stops at the source's root.
            for (PLazyNode node : source->dragSelection_)
                if (nodes.empty() || !source->HasAsParent(node, nodes.back())) nodes.push_back(node);
        } else {
            nodes = source->GetSortedCutCopySet(true);
        }
        bool forward = mode == amInsertBefore || mode == amAddChildLast;
        // The target is always named: a nil target would mean the source's own root.
        PLazyNode target = targetNode;
        for (size_t i = 0; i < nodes.size(); ++i) {
            PLazyNode node = nodes[forward ? i : nodes.size() - 1 - i];
            if (target == node || HasAsParent(target, node)) continue;
            // A refused node stays where it is; its mark goes with the cut.
            node->States &= ~vsCutOrCopy;
            source->MoveTo(node, target, mode, false);
        }
        // Every dragged node was moved or deliberately kept: none is left
        // for the source to delete when the drag reports a move.
        source->dragSelection_.clear();
        return true;
    }
    // Global memory first: it says how many bytes are node data. A system
    // clipboard may hand out that same memory as a stream, count included,
    // so a stream is asked for only when no global memory is offered.
    FORMATETC format{TreeDataFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StgMediumOwner medium;
    if (FAILED(dataObject->GetData(&format, medium.put()))) {
        format.tymed = TYMED_ISTREAM;
        if (FAILED(dataObject->GetData(&format, medium.put()))) return false;
    }
    TMemoryStream chunks;
    if (!ReadTreeData(medium.get(), chunks)) return false;

    medium.reset();
    bool complete = true;
    InUpdate(*this, [&] {
        TNodeWatch watchTarget(this, &targetNode);
        while (chunks.Position() < chunks.Size()) {
            if (!targetNode) break;   // a handler deleted the target
            PLazyNode node = MakeNewNode();
            InternalConnectNode(node, targetNode, this, mode);
            try {
                InternalAddFromStream(chunks, 2, node);
            } catch (const ELazyTreeError&) {
                // A damaged chunk: the half-read node goes, what came before stays.
                DeleteNode(node);
                complete = false;
                break;
            } catch (const EStreamError&) {
                DeleteNode(node);
                complete = false;
                break;
            }
            if (!DoNodeCopying(node, targetNode == root_ ? nullptr : targetNode)) {
                DeleteNode(node);
                continue;
            }
            DoNodeCopied(node);
            NotifyStructureChange(node, crNodeCopied);
        }
    });
    return complete;
}

} // namespace krv

// The tree stream: a 12-byte header, a node count, then one node chunk per
// top-level node. A node chunk holds the base chunk (structure fields, then
// the children's node chunks) and the node's own content chunks.
//
// Input comes from files and the clipboard, so the reader trusts nothing:
// every chunk must fit inside its parent and the stream, positions are
// 64-bit, nesting is limited, a stream cannot set internal node states, and
// the structure is walked with an explicit stack rather than recursion.
#include "tree/core/LazyTrees.h"
#include <algorithm>
#include <cstring>
#include <vector>

namespace krv {

namespace {
constexpr uint16_t kHeader0 = 0x2045, kHeaderV = 0x0056, kHeaderT = 0x0054, kHeader4 = 0x0020, kHeader5 = 0x2046;
constexpr uint16_t kStreamVersion = 2;
constexpr uint32_t kNodeChunk = 1, kBaseChunk = 2, kUserChunk = 4;
constexpr int64_t kChunkHeaderSize = 8;
constexpr int64_t kBaseRecordSize = 17, kOldBaseRecordSize = 12;
// Saving drops the transient states.
constexpr uint16_t kSavedStates = 0xDDE9;
// Loading takes only the states a stream may carry; the hidden-children flag
// is worked out again from the loaded children.
constexpr uint16_t kLoadedStates =
    vsInitialized | vsDisabled | vsExpanded | vsHasChildren | vsVisible | vsSelected | vsMultiline;

void WriteChunkHeader(TStream& s, uint32_t type, uint32_t size) {
    uint32_t h[2] = {type, size};
    s.WriteBuffer(h, sizeof h);
}

// Reads nothing past the end of one chunk: handed to the content handler.
class TChunkView : public TStream {
public:
    TChunkView(TStream& base, int64_t start, int64_t size) : base_(base), start_(start), size_(size) {}
    size_t Read(void* buffer, size_t count) override {
        int64_t left = size_ - pos_;
        if (left <= 0) return 0;
        if (int64_t(count) > left) count = size_t(left);
        base_.SetPosition(start_ + pos_);
        size_t n = base_.Read(buffer, count);
        pos_ += int64_t(n);
        return n;
    }
    size_t Write(const void*, size_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        int64_t target = origin == soBeginning ? offset : origin == soCurrent ? pos_ + offset : size_ + offset;
        pos_ = std::clamp<int64_t>(target, 0, size_);
        return pos_;
    }
    int64_t Size() override { return size_; }
    int64_t Consumed() const { return pos_; }
private:
    TStream& base_;
    int64_t start_, size_, pos_ = 0;
};
}

// ---- saving ---------------------------------------------------------------------

static void PatchChunkSize(TStream& stream, int64_t chunkStart, TBaseLazyTree* tree) {
    int64_t end = stream.Position();
    uint64_t size = uint64_t(end - chunkStart - kChunkHeaderSize);
    if (size > 0xFFFFFFFFu) throw ELazyTreeError(2006, "Stream data corrupt. Unexpected data after node's end position.");
    (void)tree;
    stream.SetPosition(chunkStart + 4);
    stream.WriteValue<uint32_t>(uint32_t(size));
    stream.SetPosition(end);
}

// What is saved must load again: a subtree nested deeper than a stream may
// be is refused before anything is written (code of the loader's refusal).
void TBaseLazyTree::RefuseStreamDepth() {
    ShowError("Unable to save tree structure, it is nested deeper than " + std::to_string(MaxStreamDepth) + " levels.",
              2006);
}

void TBaseLazyTree::CheckStreamDepth(PLazyNode node) {
    int depth = 1;
    for (PLazyNode run = node;;) {
        if (run->FirstChild && (run->States & vsInitialized)) {
            run = run->FirstChild;
            if (++depth > MaxStreamDepth) RefuseStreamDepth();
            continue;
        }
        while (run != node && !run->NextSibling) {
            run = run->Parent;
            --depth;
        }
        if (run == node) return;
        run = run->NextSibling;
    }
}

void TBaseLazyTree::SaveToStream(TStream& stream, PLazyNode node) {
    for (PLazyNode run = node && node != root_ ? node : root_->FirstChild; run; run = run->NextSibling) {
        CheckStreamDepth(run);
        if (node && node != root_) break;
    }
    uint16_t header[6] = {kHeader0, kHeaderV, kHeaderT, kStreamVersion, kHeader4, kHeader5};
    stream.WriteBuffer(header, sizeof header);
    if (node && node != root_) {
        stream.WriteValue<uint32_t>(1);
        WriteSubtree(stream, node);
        return;
    }
    int64_t countPos = stream.Position();
    stream.WriteValue<uint32_t>(root_->ChildCount);
    uint32_t written = 0;
    for (PLazyNode run = root_->FirstChild; run; run = run->NextSibling) {
        WriteSubtree(stream, run);
        ++written;
    }
    if (written != root_->ChildCount) {
        int64_t end = stream.Position();
        stream.SetPosition(countPos);
        stream.WriteValue<uint32_t>(written);
        stream.SetPosition(end);
    }
}

void TBaseLazyTree::WriteNode(TStream& stream, PLazyNode node) {
    CheckStreamDepth(node);
    WriteSubtree(stream, node);
}

// One node chunk with its whole subtree, depth first on an explicit stack,
// its depth checked before. The base chunk's child count is the number of
// child chunks really written.
void TBaseLazyTree::WriteSubtree(TStream& stream, PLazyNode node) {
    struct Frame {
        PLazyNode node;
        int64_t nodeStart, baseStart;
        PLazyNode next;
        uint32_t written;
    };
    auto begin = [&](PLazyNode n) {
        if (MiscOption(toInitOnSave)) {
            InitIfNeeded(n);
            if ((n->States & vsHasChildren) && !n->FirstChild) InitChildren(n);
        }
        Frame f{n, stream.Position(), 0, nullptr, 0};
        WriteChunkHeader(stream, kNodeChunk, 0);
        f.baseStart = stream.Position();
        WriteChunkHeader(stream, kBaseChunk, 0);
        uint8_t record[kBaseRecordSize] = {};
        uint32_t height = n->NodeHeight;
        uint16_t states = uint16_t(n->States & kSavedStates);
        std::memcpy(record + 0, &n->ChildCount, 4);
        std::memcpy(record + 4, &height, 4);
        std::memcpy(record + 8, &states, 2);
        record[10] = n->Align;
        record[11] = n->CheckState;
        record[12] = n->CheckType;
        stream.WriteBuffer(record, sizeof record);
        f.next = (n->States & vsInitialized) ? n->FirstChild : nullptr;
        return f;
    };
    std::vector<Frame> stack;
    stack.push_back(begin(node));
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (PLazyNode child = f.next) {
            // Children made by init on save can still go past the depth checked.
            if (stack.size() >= size_t(MaxStreamDepth)) RefuseStreamDepth();
            f.next = child->NextSibling;
            ++f.written;
            Frame childFrame = begin(child);
            stack.push_back(childFrame);
            continue;
        }
        Frame done = f;
        stack.pop_back();
        if (done.written != done.node->ChildCount) {
            int64_t end = stream.Position();
            stream.SetPosition(done.baseStart + kChunkHeaderSize);
            stream.WriteValue<uint32_t>(done.written);
            stream.SetPosition(end);
        }
        PatchChunkSize(stream, done.baseStart, this);
        WriteChunks(stream, done.node);
        PatchChunkSize(stream, done.nodeStart, this);
    }
}

// The node's own chunks after its base chunk: the user data written by the
// application; descendants add their content chunks after calling this.
void TBaseLazyTree::WriteChunks(TStream& stream, PLazyNode node) {
    int64_t start = stream.Position();
    WriteChunkHeader(stream, kUserChunk, 0);
    DoSaveNode(node, stream);
    if (stream.Position() == start + kChunkHeaderSize) {
        stream.SetPosition(start);
        stream.SetSize(stream.Size() - kChunkHeaderSize);
    } else {
        PatchChunkSize(stream, start, this);
    }
}

// ---- loading ----------------------------------------------------------------------

int TBaseLazyTree::LoadHeader(TStream& stream) {
    uint16_t header[6];
    if (stream.Size() - stream.Position() < int64_t(sizeof header) || stream.Read(header, sizeof header) != sizeof header)
        ShowError("Unable to load tree structure, not enough data available.", 2004);
    if (header[0] != kHeader0 || header[1] != kHeaderV || header[2] != kHeaderT || header[5] != kHeader5)
        ShowError("Unable to load tree structure, the format is wrong.", 2002);
    if (header[3] > kStreamVersion) ShowError("Unable to load tree structure, the version is unknown.", 2003);
    return header[3];
}

void TBaseLazyTree::LoadFromStream(TStream& stream) {
    if (MiscOption(toReadOnly)) return;
    Clear();
    int version = LoadHeader(stream);
    InUpdate(*this, [&] {
        uint32_t count = 0x7FFFFFFF;
        // A short count raises the stream's own read error.
        if (version == 2) count = stream.ReadValue<uint32_t>();
        while (stream.Position() < stream.Size() && count > 0) {
            --count;
            PLazyNode node = MakeNewNode();
            InternalConnectNode(node, root_, this, amAddChildLast);
            InternalAddFromStream(stream, version, node);
        }
        DoNodeCopied(nullptr);
    });
}

void TBaseLazyTree::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TBaseLazyTree::InternalAddFromStream(TStream& stream, int version, PLazyNode node) {
    // Loaded and pasted rows are new rows: without this the worker never
    // builds the position cache for a tree filled this way.
    InvalidateCache();
    try {
        ReadNode(stream, version, node);
    } catch (...) {
        // What was read stays, with its selection made consistent.
        AdoptLoadedSelection(node);
        throw;
    }
    AdoptLoadedSelection(node);
}

// Loaded selection flags become selection entries (only with multi-select).
void TBaseLazyTree::AdoptLoadedSelection(PLazyNode node) {
    TNodeArray selected;
    PLazyNode stop = nullptr;
    for (PLazyNode up = node; up && up != root_; up = up->Parent)
        if (up->NextSibling) {
            stop = up->NextSibling;
            break;
        }
    for (PLazyNode run = node; run && run != stop; run = GetNextNoInit(run)) {
        if (!(run->States & vsSelected)) continue;
        size_t index;
        if (FindSelected(run, index)) continue;
        run->States &= ~vsSelected;
        if (SelectionOption(toMultiSelect)) selected.push_back(run);
    }
    if (!selected.empty()) InternalAddToSelection(selected, true);
}

void TBaseLazyTree::ReadNode(TStream& stream, int version, PLazyNode node) {
    const char* const kCorrupt = "Stream data corrupt. Unexpected data after node's end position.";
    const char* const kShort = "Unable to load tree structure, not enough data available.";
    struct Frame {
        PLazyNode node;
        int64_t nodeEnd;
        int64_t baseEnd;
        uint32_t childrenLeft;
        bool inBase;
    };
    std::vector<Frame> stack;
    // Opens the node chunk of node, which must end by limit.
    auto open = [&](PLazyNode n, int64_t limit, bool limitIsStream) {
        if (stack.size() >= size_t(MaxStreamDepth)) ShowError(kCorrupt, 2006);
        int64_t pos = stream.Position();
        if (limit - pos < kChunkHeaderSize) ShowError(limitIsStream ? kShort : kCorrupt, limitIsStream ? 2004 : 2006);
        uint32_t header[2];
        stream.ReadBuffer(header, sizeof header);
        if (header[0] != kNodeChunk) ShowError("Stream data corrupt. A node's anchor chunk is missing.", 2005);
        int64_t end = pos + kChunkHeaderSize + int64_t(header[1]);
        if (end > limit) ShowError(limitIsStream ? kShort : kCorrupt, limitIsStream ? 2004 : 2006);
        stack.push_back(Frame{n, end, 0, 0, false});
    };
    open(node, stream.Size(), true);
    while (!stack.empty()) {
        Frame& f = stack.back();
        int64_t pos = stream.Position();
        if (f.inBase) {
            if (f.childrenLeft > 0) {
                --f.childrenLeft;
                PLazyNode parent = f.node;
                int64_t limit = f.baseEnd;
                PLazyNode child = MakeNewNode();
                InternalConnectNode(child, parent, this, amAddChildLast);
                open(child, limit, false);
                continue;
            }
            if (pos != f.baseEnd) ShowError(kCorrupt, 2006);
            f.inBase = false;
            continue;
        }
        if (pos < f.nodeEnd) {
            if (f.nodeEnd - pos < kChunkHeaderSize) ShowError(kCorrupt, 2006);
            uint32_t header[2];
            stream.ReadBuffer(header, sizeof header);
            int64_t chunkEnd = pos + kChunkHeaderSize + int64_t(header[1]);
            if (chunkEnd > f.nodeEnd) ShowError(kCorrupt, 2006);
            if (header[0] == kBaseChunk) {
                int64_t recordSize = version == 2 ? kBaseRecordSize : kOldBaseRecordSize;
                if (chunkEnd - stream.Position() < recordSize) ShowError(kCorrupt, 2006);
                uint32_t childCount = 0;
                // A base chunk read a second time adds to the children already read.
                ApplyBaseRecord(stream, version, f.node, childCount);
                if (uint64_t(childCount) * kChunkHeaderSize > uint64_t(chunkEnd - stream.Position()))
                    ShowError(kCorrupt, 2006);
                f.baseEnd = chunkEnd;
                f.childrenLeft = childCount;
                f.inBase = true;
            } else {
                ReadChunk(stream, version, f.node, header[0], header[1]);
                stream.SetPosition(chunkEnd);
            }
            continue;
        }
        if (pos != f.nodeEnd) ShowError(kCorrupt, 2006);
        if (f.node->FirstChild) DetermineHiddenChildrenFlag(f.node);
        stack.pop_back();
    }
}

// Reads a base record into a node that has just been connected, keeping the
// counts, heights and visible rows exact as its flags change.
void TBaseLazyTree::ApplyBaseRecord(TStream& stream, int version, PLazyNode node, uint32_t& childCount) {
    uint32_t height;
    uint16_t states;
    uint8_t align, checkState, checkType;
    if (version == 2) {
        uint8_t record[kBaseRecordSize];
        stream.ReadBuffer(record, sizeof record);
        std::memcpy(&childCount, record + 0, 4);
        std::memcpy(&height, record + 4, 4);
        std::memcpy(&states, record + 8, 2);
        align = record[10];
        checkState = record[11];
        checkType = record[12];
    } else {
        uint8_t record[kOldBaseRecordSize];
        stream.ReadBuffer(record, sizeof record);
        std::memcpy(&childCount, record + 0, 4);
        std::memcpy(&height, record + 4, 4);
        uint8_t old = record[8];
        states = uint16_t(old | vsVisible | ((old & 0x80) ? vsSelected : 0));
        align = record[9];
        checkState = record[10];
        checkType = record[11];
    }
    states &= kLoadedStates;
    if (height > 0xFFFF) height = 0xFFFF;
    if (height != node->NodeHeight) {
        InterruptValidation();
        int64_t diff = int64_t(height) - node->NodeHeight;
        node->NodeHeight = uint16_t(height);
        AdjustTotalHeight(node, diff, true);
    }
    SetIsVisible(node, (states & vsVisible) != 0);
    // The expanded flag of a node without children moves no rows.
    if (!node->FirstChild) node->States = uint16_t((node->States & ~vsExpanded) | (states & vsExpanded));
    uint16_t kept = node->States & (vsVisible | vsExpanded);
    uint16_t taken = states & ~(vsVisible | vsExpanded);
    if (node->FirstChild) taken |= vsHasChildren;
    node->States = uint16_t(kept | taken);
    node->Align = align;
    node->CheckState = checkState <= csMixedPressed ? checkState : uint8_t(csUncheckedNormal);
    node->CheckType = checkType <= ctButton ? checkType : uint8_t(ctNone);
}

bool TBaseLazyTree::ReadChunk(TStream& stream, int version, PLazyNode node, uint32_t chunkType, uint32_t chunkSize) {
    (void)version;
    if (chunkType != kUserChunk) {
        stream.Seek(int64_t(chunkSize), soCurrent);
        return false;
    }
    if (chunkSize == 0) return true;
    int64_t start = stream.Position();
    TChunkView view(stream, start, chunkSize);
    try {
        DoLoadNode(node, view);
    } catch (const EStreamError&) {
        // The handler asked for more than its chunk holds. Its node keeps
        // what it read; the next chunk starts where the stream says, so
        // the rest of the tree loads unharmed.
    }
    stream.SetPosition(start + int64_t(chunkSize));
    return view.Consumed() > 0;
}

void TBaseLazyTree::SkipNode(TStream& stream) {
    uint32_t header[2];
    if (stream.Size() - stream.Position() < kChunkHeaderSize)
        ShowError("Unable to load tree structure, not enough data available.", 2004);
    stream.ReadBuffer(header, sizeof header);
    if (header[0] != kNodeChunk) ShowError("Stream data corrupt. A node's anchor chunk is missing.", 2005);
    if (stream.Size() - stream.Position() < int64_t(header[1]))
        ShowError("Unable to load tree structure, not enough data available.", 2004);
    stream.Seek(int64_t(header[1]), soCurrent);
}

} // namespace krv

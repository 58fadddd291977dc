// Cut, copy and paste of nodes: the bytes on the clipboard, the tree a paste
// builds, a paste of what another process copied, cut and paste between
// trees with refused moves, a tree destroyed while its data is on the
// clipboard, the data object's conformance and hostile pasted data.
#include "TextTree.h"
#include "TreeTestSupport.h"
#include "framework/OleData.h"
#include "tree/core/LazyTreeGlobals.h"
#include <cstring>
#include <random>

using namespace krv;
using namespace krv::test;

namespace {
CLIPFORMAT ClipFormat(const char* name) { return CLIPFORMAT(::RegisterClipboardFormatA(name)); }
CLIPFORMAT TreeData() { return ClipFormat("Lazy Tree Data"); }
FORMATETC Etc(CLIPFORMAT f, DWORD tymed = TYMED_HGLOBAL) { return FORMATETC{f, nullptr, DVASPECT_CONTENT, -1, tymed}; }

std::vector<uint8_t> Bytes(const STGMEDIUM& m) {
    std::vector<uint8_t> out;
    if (m.tymed == TYMED_HGLOBAL) {
        GlobalLockScope lock(m.hGlobal);
        auto* p = lock.as<const uint8_t>();
        out.assign(p, p + ::GlobalSize(m.hGlobal));
    } else if (m.tymed == TYMED_ISTREAM) {
        uint8_t buffer[4096];
        ULONG n = 0;
        while (SUCCEEDED(m.pstm->Read(buffer, sizeof buffer, &n)) && n > 0) out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

// The node chunk of a node as the tree stream writes it (after header and count).
std::vector<uint8_t> Chunk(TBaseLazyTree& tree, PLazyNode node) {
    TMemoryStream s;
    tree.SaveToStream(s, node);
    return std::vector<uint8_t>(s.Data().begin() + 16, s.Data().end());
}

ComPtr<IDataObject> Clipboard() {
    ComPtr<IDataObject> data;
    EXPECT_EQ(S_OK, ::OleGetClipboard(data.put()));
    return data;
}

bool AnyMarked(TBaseLazyTree& tree) {
    for (PLazyNode n = tree.GetFirstNoInit(); n; n = tree.GetNextNoInit(n))
        if (n->States & vsCutOrCopy) return true;
    return false;
}

// A data object that holds only what a test set: node data from "elsewhere".
ComPtr<IDataObject> Holding(const std::vector<uint8_t>& mediumBytes) {
    auto data = ComPtr<IDataObject>::Attach(new TLTDataObject(nullptr, false));
    FORMATETC f = Etc(TreeData());
    STGMEDIUM m{};
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = GlobalFromBytes(mediumBytes.data(), mediumBytes.size());
    EXPECT_EQ(S_OK, data->SetData(&f, &m, TRUE));
    return data;
}

std::vector<uint8_t> WithCount(const std::vector<uint8_t>& chunks, uint32_t count) {
    std::vector<uint8_t> v(4 + chunks.size());
    std::memcpy(v.data(), &count, 4);
    if (!chunks.empty()) std::memcpy(v.data() + 4, chunks.data(), chunks.size());
    return v;
}

// Counts releases of a medium handed over with its ownership.
class TReleaseCounter final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;
};
}

TEST(TreeClipboard, CopyPutsTheNodeChunksOnTheClipboardAndPasteRebuildsThem) {
    TTextTree a;
    FillSample(a);
    PLazyNode alpha = a.Find(L"Alpha"), beta = a.Find(L"Beta"), delta = a.Find(L"Delta");
    a.AddToSelection(TNodeArray{beta, alpha, delta});
    ASSERT_TRUE(a.CopyToClipboard());
    EXPECT_TRUE(a.TreeStates().Contains(tsCopyPending));
    EXPECT_TRUE((alpha->States & vsCutOrCopy) && (beta->States & vsCutOrCopy) && (delta->States & vsCutOrCopy));

    // Beta travels inside Alpha: the medium holds Alpha's chunk, then Delta's.
    std::vector<uint8_t> expected = Chunk(a, alpha), deltaChunk = Chunk(a, delta);
    expected.insert(expected.end(), deltaChunk.begin(), deltaChunk.end());
    ComPtr<IDataObject> clip = Clipboard();
    ASSERT_TRUE(clip);
    FORMATETC f = Etc(TreeData());
    StgMediumOwner m;
    ASSERT_EQ(S_OK, clip->GetData(&f, m.put()));
    std::vector<uint8_t> bytes = Bytes(m.get());
    ASSERT_GE(bytes.size(), 4u + expected.size());
    uint32_t count;
    std::memcpy(&count, bytes.data(), 4);
    EXPECT_EQ(expected.size(), count);
    EXPECT_EQ(expected, std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 4 + count));
    // The stream medium holds the same chunks without the count.
    StgMediumOwner stream;
    ASSERT_EQ(S_OK, a.RenderOLEData(Etc(TreeData(), TYMED_ISTREAM), *stream.put(), true));
    EXPECT_EQ(expected, Bytes(stream.get()));
    FORMATETC text = Etc(CF_UNICODETEXT);
    StgMediumOwner unicode;
    ASSERT_EQ(S_OK, clip->GetData(&text, unicode.put()));
    std::vector<uint8_t> u = Bytes(unicode.get());
    std::wstring w(reinterpret_cast<const wchar_t*>(u.data()), u.size() / 2);
    EXPECT_NE(std::wstring::npos, w.find(L"Alpha"));
    EXPECT_NE(std::wstring::npos, w.find(L"Delta"));

    TTextTree b;
    ASSERT_TRUE(b.PasteFromClipboard());
    EXPECT_EQ("Alpha[x](Beta,Gamma[?](Eps)),Delta[x]", b.Picture());
    EXPECT_EQ("", TreeInvariantErrors(b));
    // A copy leaves the source as it was; the paste ends its pending copy.
    EXPECT_EQ("Alpha[x](Beta,Gamma[?](Eps)),Delta[x]", a.Picture());
    EXPECT_FALSE(a.TreeStates().Contains(tsCopyPending));
    EXPECT_FALSE(AnyMarked(a));

    // Nothing selected: nothing happens, the clipboard keeps what it had.
    TTextTree c;
    FillSample(c);
    EXPECT_FALSE(c.CopyToClipboard());
    EXPECT_FALSE(c.TreeStates().Contains(tsCopyPending));
    EXPECT_EQ(static_cast<TBaseLazyTree*>(&a), TBaseLazyTree::GetTreeFromDataObject(Clipboard().get()));
}

TEST(TreeClipboard, CutAndPasteInAnotherTreeMovesOnlyTheNodesAllowedToMove) {
    TTextTree a, b;
    for (const wchar_t* t : {L"N1", L"N2", L"N3", L"N4"}) a.Add(nullptr, t);
    a.Add(a.Find(L"N3"), L"N3a");
    a.AddToSelection(TNodeArray{a.Find(L"N1"), a.Find(L"N2"), a.Find(L"N3")});
    std::vector<std::wstring> moving;
    a.OnNodeMoving = [&](TBaseLazyTree* t, PLazyNode n, PLazyNode, bool& allowed) {
        moving.push_back(static_cast<TTextTree*>(t)->Text(n, ColumnNone));
        allowed = moving.back() != L"N2";
    };
    ASSERT_TRUE(a.CutToClipboard());
    EXPECT_TRUE(a.TreeStates().Contains(tsCutPending));
    ASSERT_TRUE(b.PasteFromClipboard());
    EXPECT_EQ("N1,N3(N3a)", b.Picture());
    EXPECT_EQ("N2,N4", a.Picture());
    EXPECT_EQ((std::vector<std::wstring>{L"N1", L"N2", L"N3"}), moving);
    EXPECT_FALSE(AnyMarked(a));
    EXPECT_FALSE(a.TreeStates().Contains(tsCutPending));
    EXPECT_EQ("", TreeInvariantErrors(a));
    EXPECT_EQ("", TreeInvariantErrors(b));
}

TEST(TreeClipboard, CutAndPasteInTheSameTreeMovesTheNodesAndKeepsTheirOrder) {
    for (TLTNodeAttachMode mode : {amAddChildLast, amInsertAfter, amAddChildFirst, amInsertBefore}) {
        TTextTree a;
        for (const wchar_t* t : {L"N1", L"N2", L"N3", L"N4"}) a.Add(nullptr, t);
        PLazyNode n1 = a.Find(L"N1"), n4 = a.Find(L"N4");
        a.AddToSelection(TNodeArray{n1, a.Find(L"N2"), a.Find(L"N3")});
        ASSERT_TRUE(a.CutToClipboard());
        a.SetFocusedNode(n4);
        a.DefaultPasteMode = mode;
        ASSERT_TRUE(a.PasteFromClipboard());
        const char* expected = mode == amAddChildLast || mode == amAddChildFirst ? "N4(N1,N2,N3)" : mode == amInsertAfter
                                                                                                      ? "N4,N1,N2,N3"
                                                                                                      : "N1,N2,N3,N4";
        EXPECT_EQ(expected, a.Picture()) << mode;
        // Moved, not copied: the same node records, no marks left.
        EXPECT_EQ(n1, a.Find(L"N1"));
        EXPECT_EQ(4u, a.TotalCount());
        EXPECT_FALSE(AnyMarked(a));
        EXPECT_EQ("", TreeInvariantErrors(a));
    }
}

TEST(TreeClipboard, PasteOfWhatAnotherProcessCopiedArrivesUnderTheFocusedNode) {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, n);
    exe = exe.substr(0, exe.find_last_of('\\') + 1) + "tools\\treeclip.exe";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) << exe;
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 60000));
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    ASSERT_EQ(0u, code);

    // The other process has ended: its tree reference was never handed out.
    EXPECT_EQ(nullptr, TBaseLazyTree::GetTreeFromDataObject(Clipboard().get()));
    TTextTree b;
    PLazyNode host = b.Add(nullptr, L"Host");
    b.SetFocusedNode(host);
    ASSERT_TRUE(b.PasteFromClipboard());
    EXPECT_EQ("Host(Alpha[x](Beta,Gamma[?](Eps)))", b.Picture());
    EXPECT_EQ("", TreeInvariantErrors(b));
}

TEST(TreeClipboard, ATreeDestroyedWithItsCopyOnTheClipboardLeavesTheDataAndCutsItsLinks) {
    ComPtr<IDataObject> kept;
    {
        TTextTree a;
        FillSample(a);
        a.AddToSelection(a.Find(L"Gamma"));
        ASSERT_TRUE(a.CopyToClipboard());
        kept = ComPtr<IDataObject>::Attach(new TLTDataObject(&a, true));
        FORMATETC f = Etc(TreeData());
        StgMediumOwner m;
        EXPECT_EQ(S_OK, kept->GetData(&f, m.put()));
    }
    // The object outlived its tree: it answers errors, it reads nothing freed.
    FORMATETC f = Etc(TreeData());
    StgMediumOwner m;
    EXPECT_EQ(S_OK, kept->QueryGetData(&f));
    EXPECT_EQ(E_UNEXPECTED, kept->GetData(&f, m.put()));
    FORMATETC ref = Etc(InitializeGlobalStructures().ReferenceFormat);
    EXPECT_TRUE(FAILED(kept->GetData(&ref, m.put())));
    kept.reset();

    // The clipboard was filled for good before the tree went; no reference to it stays.
    ComPtr<IDataObject> clip = Clipboard();
    EXPECT_EQ(nullptr, TBaseLazyTree::GetTreeFromDataObject(clip.get()));
    TTextTree b;
    ASSERT_TRUE(b.PasteFromClipboard());
    EXPECT_EQ("Gamma[?](Eps)", b.Picture());
}

// The data object of a copy from tree "Alpha": the formats it offers, its
// answers to queries, and what it stores for others.
class TreeDataObject : public ::testing::Test {
protected:
    void SetUp() override {
        FillSample(a);
        a.AddToSelection(a.Find(L"Alpha"));
        ASSERT_TRUE(a.CopyToClipboard());
        data = ComPtr<IDataObject>::Attach(new TLTDataObject(&a, true));
    }
    // Stores a note under format for the object to keep (the medium passes to it).
    void StoreNote(FORMATETC& format, const char* text) {
        STGMEDIUM m{};
        m.tymed = TYMED_HGLOBAL;
        m.hGlobal = GlobalFromBytes(text, std::strlen(text) + 1);
        ASSERT_EQ(S_OK, data->SetData(&format, &m, TRUE));
    }
    ULONG FormatCount() {
        ComPtr<IEnumFORMATETC> all;
        EXPECT_EQ(S_OK, data->EnumFormatEtc(DATADIR_GET, all.put()));
        FORMATETC got[16];
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, all->Next(16, got, &fetched));
        return fetched;
    }

    TTextTree a;
    ComPtr<IDataObject> data;
    // Every listed format, in the registry's priority order.
    const std::vector<CLIPFORMAT> expected{TreeData(),
                                           ClipFormat("HTML Format"),
                                           ClipFormat("Rich Text Format Without Objects"),
                                           ClipFormat("Rich Text Format"),
                                           ClipFormat("CSV"),
                                           CF_UNICODETEXT,
                                           CF_TEXT};
    const CLIPFORMAT note = ClipFormat("Korvane test note");
};

TEST_F(TreeDataObject, EnumeratesItsFormatsInPriorityOrderAndSkipsAndClonesLikeAnyEnumerator) {
    ComPtr<IEnumFORMATETC> e;
    ASSERT_EQ(S_OK, data->EnumFormatEtc(DATADIR_GET, e.put()));
    FORMATETC got[10];
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, e->Next(10, got, &fetched));   // fewer than asked
    ASSERT_EQ(expected.size(), fetched);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], got[i].cfFormat) << i;
    EXPECT_EQ(S_FALSE, e->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);
    e->Reset();
    EXPECT_EQ(S_OK, e->Skip(7));                       // exactly to the end
    EXPECT_EQ(S_FALSE, e->Next(1, got, nullptr));
    e->Reset();
    EXPECT_EQ(S_FALSE, e->Skip(8));                    // past the end: no move
    EXPECT_EQ(S_OK, e->Skip(6));
    ComPtr<IEnumFORMATETC> clone;
    ASSERT_EQ(S_OK, e->Clone(clone.put()));
    EXPECT_EQ(S_OK, clone->Next(1, got, nullptr));
    EXPECT_EQ(CF_TEXT, got[0].cfFormat);
    EXPECT_EQ(S_OK, e->Next(1, got, &fetched));        // the clone moved alone
    EXPECT_EQ(CF_TEXT, got[0].cfFormat);
    ComPtr<IEnumFORMATETC> set;
    EXPECT_EQ(OLE_S_USEREG, data->EnumFormatEtc(DATADIR_SET, set.put()));
    EXPECT_FALSE(set);
}

TEST_F(TreeDataObject, QueriesNameTheFirstMismatchInTheOrderMediumAspectIndex) {
    for (CLIPFORMAT f : expected) {
        FORMATETC q = Etc(f);
        EXPECT_EQ(S_OK, data->QueryGetData(&q)) << f;
    }
    FORMATETC q = Etc(TreeData(), TYMED_ISTREAM);
    EXPECT_EQ(DV_E_TYMED, data->QueryGetData(&q));
    q = Etc(TreeData());
    q.dwAspect = DVASPECT_ICON;
    EXPECT_EQ(DV_E_DVASPECT, data->QueryGetData(&q));
    q = Etc(TreeData());
    q.lindex = 0;
    EXPECT_EQ(DV_E_LINDEX, data->QueryGetData(&q));
    q = Etc(note);
    EXPECT_EQ(DV_E_FORMATETC, data->QueryGetData(&q));
}

TEST_F(TreeDataObject, EveryFormatRendersTheCopiedNode) {
    for (CLIPFORMAT f : expected) {
        FORMATETC g = Etc(f);
        StgMediumOwner m;
        ASSERT_EQ(S_OK, data->GetData(&g, m.put())) << f;
        ASSERT_EQ(DWORD(TYMED_HGLOBAL), m.get().tymed);
        std::vector<uint8_t> bytes = Bytes(m.get());
        std::string narrow(bytes.begin(), bytes.end());
        if (f == TreeData()) {
            std::vector<uint8_t> chunk = Chunk(a, a.Find(L"Alpha"));
            EXPECT_EQ(WithCount(chunk, uint32_t(chunk.size())), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4 + chunk.size()));
        } else if (f == CF_UNICODETEXT) {
            EXPECT_NE(std::wstring::npos, std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2).find(L"Alpha"));
        } else if (f == ClipFormat("Rich Text Format") || f == ClipFormat("Rich Text Format Without Objects")) {
            EXPECT_EQ(0u, narrow.find("{\\rtf")) << f;   // its text is written as \u numbers
        } else {
            EXPECT_NE(std::string::npos, narrow.find("Alpha")) << f;
        }
    }
}

// The application has the first say on every text format; the tree renders what it declines.
TEST_F(TreeDataObject, TheApplicationRendersATextFormatBeforeTheTree) {
    a.OnRenderOLEData = [](TBaseLazyTree*, const FORMATETC&, STGMEDIUM& m, bool, HRESULT& result) {
        m.tymed = TYMED_HGLOBAL;
        m.hGlobal = GlobalFromBytes("own", 4);
        result = S_OK;
    };
    for (CLIPFORMAT f : std::vector<CLIPFORMAT>(expected.begin() + 1, expected.end())) {   // all but the tree's nodes
        FORMATETC g = Etc(f);
        StgMediumOwner m;
        ASSERT_EQ(S_OK, data->GetData(&g, m.put())) << f;
        EXPECT_STREQ("own", reinterpret_cast<const char*>(Bytes(m.get()).data())) << f;
    }
}

TEST_F(TreeDataObject, TheReferenceNamesProcessAndTreeAndIsRefusedWhileTheClipboardIsFlushed) {
    FORMATETC refEtc = Etc(InitializeGlobalStructures().ReferenceFormat);
    StgMediumOwner ref;
    ASSERT_EQ(S_OK, data->GetData(&refEtc, ref.put()));
    std::vector<uint8_t> payload = Bytes(ref.get());
    ASSERT_GE(payload.size(), 8u);
    uint32_t pid, tree;
    std::memcpy(&pid, payload.data(), 4);
    std::memcpy(&tree, payload.data() + 4, 4);
    EXPECT_EQ(::GetCurrentProcessId(), pid);
    EXPECT_EQ(uint32_t(reinterpret_cast<uintptr_t>(static_cast<TBaseLazyTree*>(&a))), tree);
    a.DoStateChange(tsClipboardFlushing);
    EXPECT_EQ(E_FAIL, data->GetData(&refEtc, ref.put()));   // never outlives the process
    a.DoStateChange({}, tsClipboardFlushing);
}

TEST_F(TreeDataObject, UnsupportedOperationsAnswerTheirOwnCodes) {
    FORMATETC refEtc = Etc(InitializeGlobalStructures().ReferenceFormat);
    StgMediumOwner none;
    EXPECT_EQ(E_NOTIMPL, data->GetDataHere(&refEtc, none.put()));
    FORMATETC q = Etc(note);
    FORMATETC canonical{};
    EXPECT_EQ(DATA_S_SAMEFORMATETC, data->GetCanonicalFormatEtc(&q, &canonical));
    EXPECT_EQ(E_NOTIMPL, data->DUnadvise(1));
    IEnumSTATDATA* advises = nullptr;
    EXPECT_EQ(OLE_E_ADVISENOTSUPPORTED, data->EnumDAdvise(&advises));
}

TEST_F(TreeDataObject, SetDataStoresACopyWhenTheCallerKeepsTheMedium) {
    FORMATETC noteEtc = Etc(note);
    STGMEDIUM given{};
    given.tymed = TYMED_HGLOBAL;
    given.hGlobal = GlobalFromBytes("hello", 6);
    ASSERT_EQ(S_OK, data->SetData(&noteEtc, &given, FALSE));
    StgMediumOwner callerCopy;
    callerCopy.adopt(given);
    StgMediumOwner back;
    ASSERT_EQ(S_OK, data->GetData(&noteEtc, back.put()));
    EXPECT_NE(given.hGlobal, back.get().hGlobal);
    std::vector<uint8_t> hello = Bytes(back.get());
    EXPECT_EQ(std::string("hello", 6), std::string(hello.begin(), hello.begin() + 6));
    EXPECT_EQ(expected.size() + 1, FormatCount());
}

TEST_F(TreeDataObject, SetDataOfAStoredFormatReplacesItsEntryAndReleasesTheFirstMedium) {
    FORMATETC noteEtc = Etc(note);
    TReleaseCounter first, second;
    STGMEDIUM s1{};
    s1.tymed = TYMED_HGLOBAL;
    krv::GlobalHandle s1Memory(GlobalFromBytes("one", 4));
    s1.hGlobal = s1Memory.get();
    s1.pUnkForRelease = &first;
    ASSERT_EQ(S_OK, data->SetData(&noteEtc, &s1, TRUE));
    EXPECT_EQ(1u, first.refs);
    STGMEDIUM s2 = s1;
    s2.hGlobal = GlobalFromBytes("two", 4);
    s2.pUnkForRelease = &second;
    ASSERT_EQ(S_OK, data->SetData(&noteEtc, &s2, TRUE));
    EXPECT_EQ(0u, first.refs);
    EXPECT_EQ(1u, second.refs);
    // A medium with a release object keeps its memory: still ours to free.
    EXPECT_NE(0u, ::GlobalSize(s1Memory.get()));
    s1Memory.reset();
    StgMediumOwner two;
    ASSERT_EQ(S_OK, data->GetData(&noteEtc, two.put()));
    std::vector<uint8_t> twoBytes = Bytes(two.get());
    EXPECT_EQ("two", std::string(reinterpret_cast<const char*>(twoBytes.data())));
    EXPECT_EQ(expected.size() + 1, FormatCount());
    data.reset();   // the object goes, and with it the medium it kept
    EXPECT_EQ(0u, second.refs);
}

TEST_F(TreeDataObject, ATargetDeviceIsCopiedSoTheCallerMayFreeItsOwn) {
    std::vector<uint8_t> device(sizeof(DVTARGETDEVICE) + 15, 0);
    reinterpret_cast<DVTARGETDEVICE*>(device.data())->tdSize = DWORD(device.size());
    for (size_t i = sizeof(DVTARGETDEVICE); i < device.size(); ++i) device[i] = uint8_t('a' + i % 26);
    CoTaskMem<DVTARGETDEVICE> callerDevice(static_cast<DVTARGETDEVICE*>(::CoTaskMemAlloc(device.size())));
    std::memcpy(callerDevice.get(), device.data(), device.size());
    FORMATETC printed = Etc(ClipFormat("Korvane printed note"));
    printed.ptd = callerDevice.get();
    StoreNote(printed, "p");
    std::memset(callerDevice.get(), 0xEE, device.size());
    callerDevice.reset();
    ComPtr<IEnumFORMATETC> withDevice;
    ASSERT_EQ(S_OK, data->EnumFormatEtc(DATADIR_GET, withDevice.put()));
    withDevice->Skip(ULONG(expected.size()));
    FORMATETC last{};
    ASSERT_EQ(S_OK, withDevice->Next(1, &last, nullptr));
    CoTaskMem<DVTARGETDEVICE> lastDevice(last.ptd);
    ASSERT_NE(nullptr, last.ptd);
    EXPECT_EQ(0, std::memcmp(last.ptd, device.data(), device.size()));
    FORMATETC again = Etc(printed.cfFormat);
    again.ptd = last.ptd;
    EXPECT_EQ(S_OK, data->QueryGetData(&again));
}

TEST(TreeClipboard, PastedNodeDataIsBoundsChecked) {
    TTextTree src;
    FillSample(src);
    std::vector<uint8_t> alpha = Chunk(src, src.Find(L"Alpha")), delta = Chunk(src, src.Find(L"Delta"));
    auto paste = [](const std::vector<uint8_t>& medium, std::string& picture) {
        TTextTree t;
        bool ok = t.ProcessOLEData(nullptr, Holding(medium).get(), nullptr, amAddChildLast, false);
        picture = t.Picture();
        EXPECT_EQ("", TreeInvariantErrors(t));
        return ok;
    };
    std::string picture;
    EXPECT_TRUE(paste(WithCount(alpha, uint32_t(alpha.size())), picture));
    EXPECT_EQ("Alpha[x](Beta,Gamma[?](Eps))", picture);
    // The count may not claim more than the block holds.
    EXPECT_FALSE(paste(WithCount(alpha, uint32_t(alpha.size() + 4096)), picture));
    EXPECT_EQ("", picture);
    EXPECT_FALSE(paste(WithCount(alpha, 0xFFFFFFFFu), picture));
    EXPECT_FALSE(paste(std::vector<uint8_t>{1, 0}, picture));
    // A chunk cut short: its half-read node goes.
    std::vector<uint8_t> cut(alpha.begin(), alpha.end() - 3);
    EXPECT_FALSE(paste(WithCount(cut, uint32_t(cut.size())), picture));
    EXPECT_EQ("", picture);
    // A damaged second chunk: the first stays.
    std::vector<uint8_t> two = delta;
    std::vector<uint8_t> broken = alpha;
    broken[0] = 7;   // not a node chunk
    two.insert(two.end(), broken.begin(), broken.end());
    EXPECT_FALSE(paste(WithCount(two, uint32_t(two.size())), picture));
    EXPECT_EQ("Delta[x]", picture);

    // Mutated and truncated data: no crash, no hang, consistent trees.
    std::mt19937 rng(26);
    std::vector<uint8_t> both = alpha;
    both.insert(both.end(), delta.begin(), delta.end());
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> m = both;
        int edits = 1 + int(rng() % 4);
        for (int i = 0; i < edits; ++i) m[rng() % m.size()] = uint8_t(rng());
        if (round % 5 == 0) m.resize(rng() % m.size());
        paste(WithCount(m, uint32_t(m.size())), picture);
    }
}

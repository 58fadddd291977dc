#include "shell/item/LazyIconThread.h"
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/SystemVersion.h"
#include <algorithm>
#include <atomic>

namespace krv {

namespace {
std::atomic<int> g_liveRequests{0};
constexpr int PostTries = 20;

int WinPriority(int priority) {
    static const int map[] = {THREAD_PRIORITY_IDLE,   THREAD_PRIORITY_LOWEST,       THREAD_PRIORITY_BELOW_NORMAL,
                              THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                              THREAD_PRIORITY_TIME_CRITICAL};
    return map[std::clamp(priority, 0, 6)];
}

void Require(bool condition, const char* text) {
    if (!condition) throw EAssertionFailed(std::string(text) + " (LazyIconThread)");
}

// The index of an item's icon: its folder's icon interface, else the shell's file information.
int IconIndexOf(LPCITEMIDLIST pidl) {
    if (!TPIDLManager::IsDesktopFolder(pidl)) {
        ComPtr<IShellFolder> parent;
        LPCITEMIDLIST last = nullptr;
        if (SUCCEEDED(::SHBindToParent(pidl, IID_IShellFolder, parent.put_void(), &last)) && parent) {
            auto icon = parent.As<IShellIcon>(IID_IShellIcon);
            int index = 0;
            if (icon && icon->GetIconOf(last, 0, &index) == S_OK) return index;
        }
    }
    UINT flags = SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_SHELLICONSIZE | SHGFI_SMALLICON;
    if (auto info = WideFunctions().SHGetFileInfoW) {
        SHFILEINFOW fi{};
        return info(reinterpret_cast<LPCWSTR>(pidl), 0, &fi, sizeof fi, flags) ? fi.iIcon : 0;
    }
    SHFILEINFOA fi{};
    return ::SHGetFileInfoA(reinterpret_cast<LPCSTR>(pidl), 0, &fi, sizeof fi, flags) ? fi.iIcon : 0;
}
} // namespace

int LiveImageRequests() { return g_liveRequests; }

// --- the thread ---

TLazyImageThread::TLazyImageThread()
    : event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (!event_) throw Exception("Cannot create the icon thread's event: " + SysErrorMessage(::GetLastError()));
}

TLazyImageThread::~TLazyImageThread() {
    Stop();
    std::lock_guard<std::recursive_mutex> lock(ListLock);
    for (TImageThreadRequest* r : ImageThreadList) ReleaseItem(r, nullptr);
    ImageThreadList.clear();
}

void TLazyImageThread::Stop() {
    if (Finished() || !Handle()) return;
    ::SetThreadPriority(Handle(), THREAD_PRIORITY_NORMAL);
    Terminate();
    Signal();
    WaitFor();
}

void FreeImageRequest(TImageThreadRequest* request, IMalloc* malloc) {
    if (!request) return;
    if (malloc) {
        if (request->PIDL) malloc->Free(request->PIDL);
    } else {
        FreePIDL(request->PIDL);
    }
    delete request;
    --g_liveRequests;
}

void TLazyImageThread::ReleaseItem(TImageThreadRequest* request, IMalloc* malloc) { FreeImageRequest(request, malloc); }

void TLazyImageThread::ExtractInfo(LPITEMIDLIST pidl, TImageThreadRequest*) { ImageIndex = IconIndexOf(pidl); }

void TLazyImageThread::InfoLoad(TImageThreadRequest* request) { request->ImageIndex = ImageIndex; }

void TLazyImageThread::InvalidItem(TImageThreadRequest*) {}

bool TLazyImageThread::PostAnswer(TImageThreadRequest* request) {
    for (int tries = 0; tries < PostTries; ++tries) {
        if (::PostMessageA(request->Window, request->MessageID, reinterpret_cast<WPARAM>(request), 0)) return true;
        if (!::IsWindow(request->Window)) return false;
        ::Sleep(1);
    }
    return false;
}

void TLazyImageThread::Execute() {
    ComInit com;
    ComPtr<IMalloc> malloc;
    ::SHGetMalloc(malloc.put());
    while (!Terminated()) {
        ::WaitForSingleObject(event_.get(), INFINITE);
        if (Terminated()) break;
        ::Sleep(1);   // lets the user-interface thread run between requests
        TImageThreadRequest* request = nullptr;
        size_t index = 0;
        uint64_t serial = 0;
        LPITEMIDLIST copy = nullptr;
        {
            std::lock_guard<std::recursive_mutex> lock(ListLock);
            if (ImageThreadList.empty()) {
                ::ResetEvent(event_.get());
                continue;
            }
            index = ImageThreadList.size() - 1;   // newest first
            request = ImageThreadList[index];
            serial = request->Serial;
            copy = PIDLManager()->CopyPIDL(request->PIDL);
        }
        try {
            // The request may be dropped meanwhile: only the copy is used here.
            if (copy) ExtractInfo(copy, nullptr);
            else ImageIndex = 0;
            std::lock_guard<std::recursive_mutex> lock(ListLock);
            FreePIDL(copy);
            copy = nullptr;
            bool same = index < ImageThreadList.size() && ImageThreadList[index] == request && request->Serial == serial;
            if (!same) {
                InvalidItem(nullptr);
                continue;
            }
            InfoLoad(request);
            ImageThreadList.erase(ImageThreadList.begin() + static_cast<ptrdiff_t>(index));
            if (!request->Window || !PostAnswer(request)) ReleaseItem(request, malloc.get());
        } catch (...) {
            FreePIDL(copy);   // one failed request never stops the thread
        }
    }
    // Leaves without a pause: every shell object the thread took is released
    // by its owner before COM closes here, so nothing is left to settle, and
    // whoever stops the thread waits for it on the user-interface thread.
}

// --- the manager ---

TLazyImageThreadManager::~TLazyImageThreadManager() { StopThread(); }

bool TLazyImageThreadManager::IsRegistered(TWinControl* control) const {
    std::lock_guard<std::mutex> lock(controlLock_);
    return std::find(controls_.begin(), controls_.end(), control) != controls_.end();
}

void TLazyImageThreadManager::Queue(TWinControl* control, UINT messageID, int tag, void* data, bool large,
                                    LPCITEMIDLIST pidl, TNamespace* ns, bool front) {
    if (!thread_) return;
    Require(IsRegistered(control), "Trying to add Image Thread Item to a unregistered control");
    // A list that is not one terminated list in its block is never queued.
    if (!IsValidAllocatedPIDL(pidl)) return;
    auto* request = new TImageThreadRequest;
    ++g_liveRequests;
    request->PIDL = PIDLManager()->CopyPIDL(pidl);
    request->Large = large;
    request->Control = control;
    request->Data = data;
    request->Tag = tag;
    request->MessageID = messageID;
    request->Window = control->HandleAllocated() ? control->Handle() : nullptr;
    request->Namespace = ns;
    if (ns) ns->SetThreadIconLoading(true);
    std::lock_guard<std::recursive_mutex> lock(thread_->ListLock);
    request->Serial = nextSerial_++;
    auto& list = thread_->ImageThreadList;
    // The thread resets its event only under this lock with the list empty:
    // a list with requests has it set already (each signal is a system call).
    bool wake = list.empty();
    list.insert(front ? list.begin() : list.end(), request);
    if (wake) thread_->Signal();
}

void TLazyImageThreadManager::AddNewItem(TWinControl* control, UINT messageID, int tag, void* data, bool large,
                                         LPCITEMIDLIST pidl, TNamespace* ns) {
    Queue(control, messageID, tag, data, large, pidl, ns, false);
}

void TLazyImageThreadManager::InsertNewItem(TWinControl* control, UINT messageID, int tag, void* data, bool large,
                                            LPCITEMIDLIST pidl, TNamespace* ns) {
    Queue(control, messageID, tag, data, large, pidl, ns, true);
}

void TLazyImageThreadManager::DropRequests(TWinControl* control, bool anyData, void* data, IMalloc* malloc) {
    auto& list = thread_->ImageThreadList;
    for (size_t i = list.size(); i-- > 0;) {
        TImageThreadRequest* r = list[i];
        if (r->Control != control || (!anyData && r->Data != data)) continue;
        list.erase(list.begin() + static_cast<ptrdiff_t>(i));
        if (r->Namespace) r->Namespace->SetThreadIconLoading(false);
        thread_->ReleaseItem(r, malloc);
    }
}

void TLazyImageThreadManager::ClearPendingItems(TWinControl* control, UINT messageID, IMalloc* malloc) {
    ClearPending(control, true, nullptr, malloc, messageID);
}

// A nil data names the requests made with nil data, not all of the control's.
void TLazyImageThreadManager::ClearPendingItem(TWinControl* control, void* data, IMalloc* malloc, UINT messageID) {
    ClearPending(control, false, data, malloc, messageID);
}

void TLazyImageThreadManager::ClearPending(TWinControl* control, bool anyData, void* data, IMalloc* malloc,
                                           UINT messageID) {
    if (!thread_) return;
    Require(IsRegistered(control), "Trying to clear pending Image Thead Items from an unregistered control");
    std::lock_guard<std::recursive_mutex> lock(thread_->ListLock);
    // Answers already posted reach the control first.
    if (control->HandleAllocated()) {
        HWND wnd = control->Handle();
        MSG msg;
        while (::PeekMessageA(&msg, wnd, messageID, messageID, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    DropRequests(control, anyData, data, malloc);
}

std::vector<TImageThreadRequest*>* TLazyImageThreadManager::LockThread() {
    if (!thread_) return nullptr;
    thread_->ListLock.lock();
    return &thread_->ImageThreadList;
}

void TLazyImageThreadManager::UnlockThread() {
    if (thread_) thread_->ListLock.unlock();
}

void TLazyImageThreadManager::RegisterControl(TWinControl* control) {
    {
        std::lock_guard<std::mutex> lock(controlLock_);
        if (std::find(controls_.begin(), controls_.end(), control) != controls_.end()) return;
        controls_.push_back(control);
    }
    if (!thread_) {
        thread_ = std::make_unique<TLazyImageThread>();
        thread_->Start();
        ::SetThreadPriority(thread_->Handle(), WinPriority(priority_));
    }
}

void TLazyImageThreadManager::UnRegisterControl(TWinControl* control) {
    bool last;
    {
        std::lock_guard<std::mutex> lock(controlLock_);
        auto it = std::find(controls_.begin(), controls_.end(), control);
        if (it == controls_.end()) return;
        controls_.erase(it);
        last = controls_.empty();
    }
    // What the control still had queued can no longer be answered.
    if (thread_) {
        std::lock_guard<std::recursive_mutex> lock(thread_->ListLock);
        DropRequests(control, true, nullptr, nullptr);
    }
    if (last) StopThread();
}

void TLazyImageThreadManager::StopThread() {
    if (!thread_) return;
    thread_->Stop();
    thread_.reset();
}

void TLazyImageThreadManager::ReleaseItem(TImageThreadRequest* request, IMalloc* malloc) {
    if (thread_) thread_->ReleaseItem(request, malloc);
    else FreeImageRequest(request, malloc);   // an answer that arrived after the last control left
}

void TLazyImageThreadManager::SetThreadPriority(int priority) {
    priority_ = priority;
    if (thread_ && thread_->Handle()) ::SetThreadPriority(thread_->Handle(), WinPriority(priority));
}

TLazyImageThreadManager& ImageThreadManagerObject() {
    static TLazyImageThreadManager manager;
    return manager;
}

ILazyImageThreadManager& ImageThreadManager() { return ImageThreadManagerObject(); }

} // namespace krv

// One owner for every kind of raw Win32 resource. Nothing above framework/
// closes a handle, deletes a GDI object or releases a COM pointer by hand.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <utility>

namespace krv {

template <class Traits> class UniqueHandle {
public:
    using Raw = typename Traits::Raw;
    UniqueHandle() = default;
    explicit UniqueHandle(Raw h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, Traits::invalid())) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, Traits::invalid()));
        return *this;
    }
    ~UniqueHandle() { reset(); }
    Raw get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::invalid(); }
    // Takes ownership of a new value, closing the old one.
    void reset(Raw h = Traits::invalid()) {
        if (h_ != Traits::invalid()) Traits::close(h_);
        h_ = h;
    }
    // Gives up ownership without closing.
    Raw release() { return std::exchange(h_, Traits::invalid()); }
    // For APIs that fill in a handle through a pointer.
    Raw* put() { reset(); return &h_; }
private:
    Raw h_ = Traits::invalid();
};

struct FileTraits {
    using Raw = HANDLE;
    static Raw invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Raw h) { ::CloseHandle(h); }
};
// Threads, events, processes, mutexes: null when empty.
struct KernelTraits {
    using Raw = HANDLE;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { ::CloseHandle(h); }
};
struct FindTraits {
    using Raw = HANDLE;
    static Raw invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Raw h) { ::FindClose(h); }
};
struct ModuleTraits {
    using Raw = HMODULE;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { ::FreeLibrary(h); }
};
struct WindowTraits {
    using Raw = HWND;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { ::DestroyWindow(h); }
};
struct IconTraits {
    using Raw = HICON;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { ::DestroyIcon(h); }
};
struct MenuTraits {
    using Raw = HMENU;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { ::DestroyMenu(h); }
};
struct RegKeyTraits {
    using Raw = HKEY;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { ::RegCloseKey(h); }
};
struct ImageListTraits {
    using Raw = HANDLE;   // HIMAGELIST without pulling in commctrl.h here
    static Raw invalid() { return nullptr; }
    static void close(Raw h);
};
struct GlobalTraits {
    using Raw = HGLOBAL;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { ::GlobalFree(h); }
};
// A block the system allocated for us with LocalAlloc (FormatMessage's text).
struct LocalTraits {
    using Raw = HLOCAL;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { ::LocalFree(h); }
};
// A folder change-notification handle (FindFirstChangeNotification).
struct ChangeNotifyTraits {
    using Raw = HANDLE;
    static Raw invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Raw h) { ::FindCloseChangeNotification(h); }
};
// A socket. The socket layer binds its library at run time, so it supplies the
// closing call: Api::CloseSocket answers 0 on success.
template <class Api> struct SocketTraits {
    using Raw = UINT_PTR;   // SOCKET
    static Raw invalid() { return ~Raw(0); }
    static void close(Raw s) { Api::CloseSocket(s); }
};
struct BstrTraits {
    using Raw = BSTR;
    static Raw invalid() { return nullptr; }
    static void close(Raw b) { ::SysFreeString(b); }
};
// Address space taken with VirtualAlloc (whole allocation units).
struct VirtualMemoryTraits {
    using Raw = void*;
    static Raw invalid() { return nullptr; }
    static void close(Raw p) { ::VirtualFree(p, 0, MEM_RELEASE); }
};
// A window's theme data (OpenThemeData). The theme library is bound at run
// time (framework/Themes.h), so closing goes through that binding.
struct ThemeTraits {
    using Raw = HANDLE;   // HTHEME without pulling in uxtheme.h here
    static Raw invalid() { return nullptr; }
    static void close(Raw h);
};
template <class T> struct GdiTraits {
    using Raw = T;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { ::DeleteObject(h); }
};

using FileHandle = UniqueHandle<FileTraits>;
using KernelHandle = UniqueHandle<KernelTraits>;
using FindHandle = UniqueHandle<FindTraits>;
using ModuleHandle = UniqueHandle<ModuleTraits>;
using WindowHandle = UniqueHandle<WindowTraits>;
using IconHandle = UniqueHandle<IconTraits>;
using MenuHandle = UniqueHandle<MenuTraits>;
using RegKeyHandle = UniqueHandle<RegKeyTraits>;
using GlobalHandle = UniqueHandle<GlobalTraits>;
using LocalMemory = UniqueHandle<LocalTraits>;
using ChangeNotifyHandle = UniqueHandle<ChangeNotifyTraits>;
using BstrHandle = UniqueHandle<BstrTraits>;
using VirtualMemory = UniqueHandle<VirtualMemoryTraits>;
using ThemeHandle = UniqueHandle<ThemeTraits>;
template <class T> using GdiObject = UniqueHandle<GdiTraits<T>>;
using FontHandle = GdiObject<HFONT>;
using BrushHandle = GdiObject<HBRUSH>;
using PenHandle = GdiObject<HPEN>;
using BitmapHandle = GdiObject<HBITMAP>;
using RegionHandle = GdiObject<HRGN>;

// A socket whose closing can fail in a way the caller must hear about.
template <class Api> class SocketHandle : public UniqueHandle<SocketTraits<Api>> {
public:
    using UniqueHandle<SocketTraits<Api>>::UniqueHandle;
    // Closes now and answers the call's result; only a successful close forgets the handle.
    int TryClose() {
        int rc = Api::CloseSocket(this->get());
        if (rc == 0) this->release();
        return rc;
    }
};

// A device context got with GetDC (or, for the whole window with its frame,
// GetWindowDC), released with ReleaseDC.
class WindowDC {
public:
    explicit WindowDC(HWND wnd, bool wholeWindow = false)
        : wnd_(wnd), dc_(wholeWindow ? ::GetWindowDC(wnd) : ::GetDC(wnd)) {}
    // Adopts a DC got with other flags (GetDCEx); may be null.
    WindowDC(HWND wnd, HDC dc) : wnd_(wnd), dc_(dc) {}
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    ~WindowDC() { if (dc_) ::ReleaseDC(wnd_, dc_); }
    HDC get() const { return dc_; }
private:
    HWND wnd_;
    HDC dc_;
};

// A memory device context made with CreateCompatibleDC.
class MemoryDC {
public:
    explicit MemoryDC(HDC compatible) : dc_(::CreateCompatibleDC(compatible)) {}
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    ~MemoryDC() { if (dc_) ::DeleteDC(dc_); }
    HDC get() const { return dc_; }
private:
    HDC dc_;
};

// Selects a GDI object into a DC for a scope and puts the old one back.
class SelectObjectScope {
public:
    SelectObjectScope(HDC dc, HGDIOBJ obj) : dc_(dc), old_(::SelectObject(dc, obj)) {}
    SelectObjectScope(const SelectObjectScope&) = delete;
    SelectObjectScope& operator=(const SelectObjectScope&) = delete;
    ~SelectObjectScope() { if (old_) ::SelectObject(dc_, old_); }
private:
    HDC dc_;
    HGDIOBJ old_;
};

// Global memory locked for a scope (GlobalLock) and unlocked when the scope
// ends, however it ends. The pointer is null when the lock failed.
class GlobalLockScope {
public:
    explicit GlobalLockScope(HGLOBAL memory) : memory_(memory), p_(memory ? ::GlobalLock(memory) : nullptr) {}
    GlobalLockScope(const GlobalLockScope&) = delete;
    GlobalLockScope& operator=(const GlobalLockScope&) = delete;
    ~GlobalLockScope() { if (p_) ::GlobalUnlock(memory_); }
    void* get() const { return p_; }
    template <class T> T* as() const { return static_cast<T*>(p_); }
    explicit operator bool() const { return p_ != nullptr; }
private:
    HGLOBAL memory_;
    void* p_;
};

// The painting of a window's invalid part: BeginPaint for the scope, EndPaint
// when it ends, however it ends.
class PaintScope {
public:
    explicit PaintScope(HWND wnd) : wnd_(wnd), dc_(::BeginPaint(wnd, &ps_)) {}
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { ::EndPaint(wnd_, &ps_); }
    HDC dc() const { return dc_; }
    const RECT& rect() const { return ps_.rcPaint; }
private:
    HWND wnd_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// Owning COM interface pointer.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Adopts a pointer that already carries a reference.
    static ComPtr Attach(T* p) { ComPtr c; c.p_ = p; return c; }
    // Takes a new reference on a borrowed pointer.
    static ComPtr Share(T* p) { if (p) p->AddRef(); return Attach(p); }
    ComPtr(const ComPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }
    ~ComPtr() { reset(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { if (p_) { p_->Release(); p_ = nullptr; } }
    T* detach() { return std::exchange(p_, nullptr); }
    T** put() { reset(); return &p_; }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    template <class U> ComPtr<U> As(REFIID iid) const {
        ComPtr<U> r;
        if (p_) p_->QueryInterface(iid, r.put_void());
        return r;
    }
private:
    T* p_ = nullptr;
};

// COM initialised for the life of the object on the current thread.
class ComInit {
public:
    explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED) : hr_(::CoInitializeEx(nullptr, model)) {}
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;
    ~ComInit() { if (SUCCEEDED(hr_)) ::CoUninitialize(); }
    bool ok() const { return SUCCEEDED(hr_); }
private:
    HRESULT hr_;
};

// A block from CoTaskMemAlloc (the shell allocator hands out the same memory).
template <class T> class CoTaskMem {
public:
    CoTaskMem() = default;
    explicit CoTaskMem(T* p) : p_(p) {}
    CoTaskMem(const CoTaskMem&) = delete;
    CoTaskMem& operator=(const CoTaskMem&) = delete;
    CoTaskMem(CoTaskMem&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    CoTaskMem& operator=(CoTaskMem&& o) noexcept { reset(std::exchange(o.p_, nullptr)); return *this; }
    ~CoTaskMem() { reset(); }
    T* get() const { return p_; }
    T** put() { reset(); return &p_; }
    T* release() { return std::exchange(p_, nullptr); }
    void reset(T* p = nullptr) { if (p_) ::CoTaskMemFree(p_); p_ = p; }
    explicit operator bool() const { return p_ != nullptr; }
private:
    T* p_ = nullptr;
};

} // namespace krv

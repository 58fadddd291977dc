// System libraries that only rare paths need (file dialogs, version
// resources, the multimedia timer): mapped on the first call instead of at
// start-up, where every statically imported module adds to the program's
// start. A library or entry point that cannot be found raises an exception
// naming it, so the caller reports it as it would any failed system call.
// An optional library (the theme library, absent on older systems) is asked
// through the Try operations instead, which answer null for what is missing.
#pragma once
#include "framework/SysUtils.h"
#include <mutex>

namespace krv {

class TLazyLibrary {
public:
    explicit TLazyLibrary(const char* name) : name_(name) {}
    TLazyLibrary(const TLazyLibrary&) = delete;
    TLazyLibrary& operator=(const TLazyLibrary&) = delete;

    const char* Name() const { return name_; }
    // The library's handle, loaded by the first caller of any thread.
    HMODULE Module();
    FARPROC Proc(const char* entry);
    template <class Fn> Fn Get(const char* entry) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(Proc(entry)));
    }
    // Null when the library cannot be loaded; the load is tried once only.
    HMODULE TryModule();
    // Null when the library or the entry point is missing.
    FARPROC TryProc(const char* entry);
    template <class Fn> Fn TryGet(const char* entry) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(TryProc(entry)));
    }

private:
    const char* name_;
    std::mutex lock_;
    // Never freed: entry points handed out stay valid to the end of the
    // process, whatever the order in which static owners go.
    HMODULE module_ = nullptr;
    bool tried_ = false;
};

// The program's libraries loaded on first use.
TLazyLibrary& CommonDialogsLibrary();   // comdlg32.dll
TLazyLibrary& VersionLibrary();         // version.dll
TLazyLibrary& MultimediaLibrary();      // winmm.dll
TLazyLibrary& ThemeLibrary();           // uxtheme.dll, optional: see framework/Themes.h
// kernel32.dll, for entries only newer systems have (through TryGet).
TLazyLibrary& KernelLibrary();

// Entry points of those libraries by their own names.
#define KRV_LAZY_CALL(library, function) (library().Get<decltype(&::function)>(#function))

} // namespace krv

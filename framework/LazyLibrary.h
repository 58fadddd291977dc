// System libraries that only rare paths need (file dialogs, version
// resources, the multimedia timer): mapped on the first call instead of at
// start-up, where every statically imported module adds to the program's
// start. A library or entry point that cannot be found raises an exception
// naming it, so the caller reports it as it would any failed system call.
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

private:
    const char* name_;
    std::mutex lock_;
    // Never freed: entry points handed out stay valid to the end of the
    // process, whatever the order in which static owners go.
    HMODULE module_ = nullptr;
};

// The program's libraries loaded on first use.
TLazyLibrary& CommonDialogsLibrary();   // comdlg32.dll
TLazyLibrary& VersionLibrary();         // version.dll
TLazyLibrary& MultimediaLibrary();      // winmm.dll

// Entry points of those libraries by their own names.
#define KRV_LAZY_CALL(library, function) (library().Get<decltype(&::function)>(#function))

} // namespace krv

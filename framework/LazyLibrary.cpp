#include "framework/LazyLibrary.h"

namespace krv {

HMODULE TLazyLibrary::Module() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!module_) {
        tried_ = true;
        module_ = ::LoadLibraryA(name_);
        if (!module_)
            throw Exception(Format("Unable to load %s: %s", name_, SysErrorMessage(::GetLastError()).c_str()));
    }
    return module_;
}

FARPROC TLazyLibrary::Proc(const char* entry) {
    FARPROC p = ::GetProcAddress(Module(), entry);
    if (!p)
        throw Exception(Format("Procedure %s not found in %s: %s", entry, name_,
                               SysErrorMessage(::GetLastError()).c_str()));
    return p;
}

HMODULE TLazyLibrary::TryModule() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!module_ && !tried_) {
        tried_ = true;
        module_ = ::LoadLibraryA(name_);
    }
    return module_;
}

FARPROC TLazyLibrary::TryProc(const char* entry) {
    HMODULE module = TryModule();
    return module ? ::GetProcAddress(module, entry) : nullptr;
}

TLazyLibrary& CommonDialogsLibrary() {
    static TLazyLibrary library("comdlg32.dll");
    return library;
}

TLazyLibrary& VersionLibrary() {
    static TLazyLibrary library("version.dll");
    return library;
}

TLazyLibrary& MultimediaLibrary() {
    static TLazyLibrary library("winmm.dll");
    return library;
}

TLazyLibrary& KernelLibrary() {
    static TLazyLibrary library("kernel32.dll");
    return library;
}

TLazyLibrary& ThemeLibrary() {
    static TLazyLibrary library("uxtheme.dll");
    return library;
}

} // namespace krv

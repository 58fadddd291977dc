// Callback thunks: a few bytes of executable code that let a plain system
// callback (window procedure, enumeration callback, timer procedure) reach an
// object. Calling the thunk with the stdcall convention calls the target with
// the object pushed in front of the callback's own arguments; the target's
// stdcall return then cleans the stack exactly as the caller expects.
#pragma once
#include <windows.h>

namespace krv {

// A thunk that calls method(object, args...). method must be a __stdcall
// function whose first parameter is the object. nullptr when no memory.
void* MakeCallbackThunk(void* object, void* method);
void FreeCallbackThunk(void* thunk);

// Typed form: the result has the callback's own signature.
template <class Obj, class R, class... Args>
auto MakeCallbackThunk(Obj* object, R(__stdcall* method)(Obj*, Args...)) -> R(__stdcall*)(Args...) {
    return reinterpret_cast<R(__stdcall*)(Args...)>(
        MakeCallbackThunk(static_cast<void*>(object), reinterpret_cast<void*>(method)));
}

// Owns one thunk for the life of the object.
class TCallbackThunk {
public:
    TCallbackThunk(void* object, void* method) : thunk_(MakeCallbackThunk(object, method)) {}
    TCallbackThunk(const TCallbackThunk&) = delete;
    TCallbackThunk& operator=(const TCallbackThunk&) = delete;
    ~TCallbackThunk() { FreeCallbackThunk(thunk_); }
    void* get() const { return thunk_; }
    template <class Fn> Fn as() const { return reinterpret_cast<Fn>(thunk_); }
private:
    void* thunk_;
};

} // namespace krv

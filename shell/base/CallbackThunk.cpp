#include "shell/base/CallbackThunk.h"
#include <cstdint>
#include <cstring>

namespace krv {

void* MakeCallbackThunk(void* object, void* method) {
    static_assert(sizeof(void*) == 4, "the thunk is 32-bit x86 code");
    auto* code = static_cast<uint8_t*>(
        ::VirtualAlloc(nullptr, 13, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    if (!code) return nullptr;
    uint32_t obj = reinterpret_cast<uint32_t>(object);
    // jmp rel32 counts from the end of the 13-byte thunk.
    uint32_t rel = reinterpret_cast<uint32_t>(method) - (reinterpret_cast<uint32_t>(code) + 13);
    code[0] = 0x5A;            // pop edx      ; the return address
    code[1] = 0xB8;            // mov eax, obj
    std::memcpy(code + 2, &obj, 4);
    code[6] = 0x50;            // push eax     ; the object becomes the first argument
    code[7] = 0x52;            // push edx     ; the return address goes back on top
    code[8] = 0xE9;            // jmp method
    std::memcpy(code + 9, &rel, 4);
    ::FlushInstructionCache(::GetCurrentProcess(), code, 13);
    return code;
}

void FreeCallbackThunk(void* thunk) {
    if (thunk) ::VirtualFree(thunk, 0, MEM_RELEASE);
}

} // namespace krv

// What g++ asks of a C++ runtime: a pure virtual slot, the deleting
// destructor's operator delete and atexit for static objects with
// destructors. Nothing here allocates, and a UEFI application's statics
// are never destroyed (the image is unloaded whole), so the first two can
// never be reached and atexit has nothing to keep.
#include <cstddef>

#include "platform/uefi/runtime.h"

namespace {
[[noreturn]] void RuntimeFault() {
    uefi::Firmware &f = uefi::Machine();
    if (f.System) f.System->ConOut->OutputString(f.System->ConOut, u"runtime fault\r\n");
    for (;;) __builtin_trap();
}
}  // namespace

extern "C" void __cxa_pure_virtual() { RuntimeFault(); }
extern "C" int atexit(void (*)()) { return 0; }
void operator delete(void *) noexcept { RuntimeFault(); }
void operator delete(void *, size_t) noexcept { RuntimeFault(); }

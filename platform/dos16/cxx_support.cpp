// What g++ asks of a C++ runtime for classes with virtual functions: a
// pure virtual slot and the deleting destructor's operator delete. Nothing
// here allocates, so neither can ever be reached; both end the program.
#include "platform/dos16/runtime.h"

namespace {
constexpr int kRuntimeFault = 255;
}

extern "C" void __cxa_pure_virtual() {
    dos16::Print("pure virtual call\r\n");
    dos16::Exit(kRuntimeFault);
}

void operator delete(void *) noexcept { dos16::Exit(kRuntimeFault); }
void operator delete(void *, size_t) noexcept { dos16::Exit(kRuntimeFault); }

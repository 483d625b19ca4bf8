// Time as the run needs it.
#pragma once
#include <cstdint>

namespace fwpack {

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since the system started, wrapping at 2^32 (GetTickCount).
    virtual uint32_t TickCount() = 0;
    // Pauses the calling thread for about ms milliseconds (Sleep).
    virtual void Sleep(uint32_t ms) = 0;
};

}  // namespace fwpack

// The program's own resources of type "SETUP".
#pragma once
#include <cstdint>
#include <span>

namespace fwpack {

class ResourceSource {
  public:
    virtual ~ResourceSource() = default;
    // The bytes of resource id, or an empty span when it is missing, cannot
    // be loaded or is empty. The bytes live as long as the source.
    virtual std::span<const uint8_t> SetupResource(uint16_t id) const = 0;
};

}  // namespace fwpack

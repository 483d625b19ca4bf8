// The four tags as markers for the chunked search, assembled at run time
// from their masked bytes. Freestanding.
#pragma once
#include "payload/marker_search.h"
#include "payload/resource_layout.h"

namespace fwpack {

struct TagMarkers {
    char Text[kTaggedResourceCount][kTagLength];
    Marker List[kTaggedResourceCount];  // List[n] is the tag of TaggedResourceId(n)

    TagMarkers() {
        for (size_t n = 0; n < kTaggedResourceCount; ++n) {
            TagText(TaggedResourceId(n), Text[n]);
            List[n] = {reinterpret_cast<const uint8_t *>(Text[n]), kTagLength};
        }
    }
    TagMarkers(const TagMarkers &) = delete;
    TagMarkers &operator=(const TagMarkers &) = delete;
};

}  // namespace fwpack

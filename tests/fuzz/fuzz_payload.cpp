// Arbitrary bytes into every payload reader: as a tagged resource, a file
// package (also after inflating it, as the worker would), an option block
// and through the option loader. Any read outside the input is reported by
// the sanitizers.
#include <cstring>
#include <vector>
#include <zlib.h>

#include "dialog/load_option_block.h"
#include "payload/checksum16.h"
#include "payload/file_package.h"
#include "payload/option_block.h"
#include "payload/tagged_resource.h"
#include "platform/resources.h"

using namespace fwpack;

namespace {

class OneResource : public ResourceSource {
  public:
    OneResource(const uint8_t *d, size_t n) : data_(d), size_(n) {}
    std::span<const uint8_t> SetupResource(uint16_t id) const override {
        if (id != OptionResource || size_ == 0) return {};
        return {data_, size_};
    }

  private:
    const uint8_t *data_;
    size_t size_;
};

void ReadPackage(const uint8_t *data, size_t size) {
    for (bool bare : {true, false}) {
        FilePackageView view;
        long bad = 0;
        if (ParseFilePackage(data, size, view, {.RequireBareNames = bare, .AllowTrailingBytes = !bare},
                             &bad) == PackageError::None) {
            // Every file the reader hands out lies inside the buffer.
            uint32_t sum = 0;
            for (size_t i = 0; i < view.Records.size(); ++i)
                sum = Checksum16Add(sum, view.Data + view.Offsets[i], view.Records[i].Size);
            if (view.Records.size() != view.Count) __builtin_trap();
        }
    }
}

void ReadInflated(const uint8_t *data, size_t size) {
    // Bounded, so a small input cannot ask for unbounded memory.
    std::vector<uint8_t> out(1 << 16);
    z_stream s{};
    if (inflateInit2(&s, kPayloadWindowBits) != Z_OK) return;
    s.next_in = const_cast<Bytef *>(data);
    s.avail_in = uInt(size);
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    inflate(&s, Z_FINISH);
    out.resize(s.total_out);
    inflateEnd(&s);
    ReadPackage(out.data(), out.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    TaggedResource tagged;
    if (ParseTaggedResource(data, size, tagged)) {
        ResourceIdForTag(data, size, 0);
        ReadPackage(tagged.Body, tagged.BodySize);
        ReadInflated(tagged.Body, tagged.BodySize);
    }
    ReadPackage(data, size);
    ReadInflated(data, size);

    OptionBlock block;
    ParseOptionBlock(data, size, block);
    ProgramOptionCopy copy;
    OneResource source(data, size);
    LoadOptionBlock(source, copy);
    volatile size_t n = copy.FlashProgram().size() + copy.IdString().size() + copy.MeImageName().size();
    (void)n;
    return 0;
}

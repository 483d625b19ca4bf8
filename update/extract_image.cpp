// ExtractImage: a tagged image package through two scratch files into the
// target path; the stored checksum comes back.
#include "update/extract_image.h"

#include <string>
#include <vector>

#include "payload/file_package.h"
#include "payload/tagged_resource.h"
#include "payload/zlib_engine.h"
#include "run/error_box.h"
#include "run/temp_names.h"

namespace fwpack {

std::optional<uint32_t> ExtractImage(WorkerContext &c, uint16_t resource,
                                     std::string_view target) {
    FileSystem &files = c.Files;
    std::string root = files.TempRoot();
    // Without a temp root the scratch names would be bare names in the
    // working directory: nothing is deleted or written there.
    if (root.empty()) {
        files.RemoveFile(target);
        return std::nullopt;
    }
    std::string a = ScratchNameA(root, c.Time.TickCount());
    std::string b = ScratchNameB(root, c.Time.TickCount());
    files.RemoveFile(a);
    files.RemoveFile(b);
    auto failure = [&]() -> std::optional<uint32_t> {
        files.RemoveFile(a);
        files.RemoveFile(b);
        files.RemoveFile(target);
        return std::nullopt;
    };

    // The tagged header is skipped unread; a resource shorter than it has
    // no body at all.
    std::span<const uint8_t> resourceBytes = c.Resources.SetupResource(resource);
    if (resourceBytes.size() < kTaggedHeaderSize) return failure();
    if (!files.WriteWholeFile(a, resourceBytes.subspan(kTaggedHeaderSize))) return failure();

    bool made = resource == MePackage ? DecompressFile(a.c_str(), b.c_str()) == 0
                                      : files.CopyFileOver(a, b);
    if (!made) {
        ShowErrorBox(c.Boxes, c.Run.WindowTitle,
                     "Fail to decompress the BIN data, extracting process aborted!");
        return failure();
    }
    files.RemoveFile(a);

    std::vector<uint8_t> package;
    if (!files.ReadWholeFile(b, package) || package.empty()) return failure();
    files.RemoveFile(b);
    // The count and one record come first; a shorter package has no image.
    constexpr size_t kImageStart = kPackageHeaderSize + kFileRecordSize;
    if (package.size() < kImageStart) return failure();
    FileRecord record;
    // Only Checksum is used: a record whose name has no NUL still has one.
    (void)ReadFileRecord(package.data(), package.size(), kPackageHeaderSize, record);
    std::span<const uint8_t> image(package.data() + kImageStart, package.size() - kImageStart);
    if (!files.WriteWholeFile(target, image)) return failure();
    return record.Checksum;
}

}  // namespace fwpack

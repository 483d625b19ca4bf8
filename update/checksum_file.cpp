// Checksum16 over the whole content of a file, read in one piece.
#include <vector>

#include "payload/checksum16.h"
#include "update/flash_stage.h"

namespace fwpack {

uint16_t Checksum16(FileSystem &files, std::string_view path) {
    std::vector<uint8_t> bytes;
    if (!files.ReadWholeFile(path, bytes) || bytes.empty()) return 0;
    return Checksum16(bytes.data(), bytes.size());
}

}  // namespace fwpack

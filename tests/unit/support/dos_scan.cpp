#include "support/dos_scan.h"

#include <algorithm>

#include "dos/tag_scan.h"
#include "payload/dos_limits.h"
#include "platform/posix/posix_dos_files.h"
#include "support/test_files.h"

namespace fwpack::test {

std::vector<uint16_t> DosScanFinds(const std::string &path,
                                   const std::map<uint16_t, std::vector<uint8_t>> &set) {
    const std::vector<uint8_t> file = ReadBytes(path);
    std::vector<uint16_t> found;
    PosixDosFiles files;
    DosFile f = files.OpenForReading(path.c_str());
    if (f == kNoFile) return found;
    const long size = long(file.size());
    std::vector<uint8_t> chunk(kDosTransferSize);
    TagScanner scanner(files, f, size, chunk.data(), chunk.size());
    for (long at = 0;;) {
        uint16_t id = 0;
        at = scanner.FindTag(at, size, &id);
        if (at < 0) break;
        auto it = set.find(id);
        const bool same = it != set.end() && it->second.size() <= file.size() - size_t(at) &&
                          std::equal(it->second.begin(), it->second.end(), file.begin() + at);
        found.push_back(same ? id : 0);
        at += same ? long(it->second.size()) : 1;
    }
    files.Close(f);
    return found;
}

}  // namespace fwpack::test

// What the DOS updater's own tag scan (dos/tag_scan) finds in a package
// file, for the tests of the containers that append or embed the tagged
// resources.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fwpack::test {

// The ids of the tags the scan finds in the file at path, in file order,
// each resource skipped whole once found. An id whose bytes at that place
// are not set's resource of that id is given as 0.
std::vector<uint16_t> DosScanFinds(const std::string &path,
                                   const std::map<uint16_t, std::vector<uint8_t>> &set);

}  // namespace fwpack::test

// Unpacks every package of a payload into DIR/<package name>/ with the
// stored access and write times, and the option block as DIR/OptionBlock.txt.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/fwpack/inspect/payload_report.h"

namespace fwpack {

// What one extraction writes at most: a stream that unpacks to more is
// refused before anything is written.
inline constexpr uint64_t kExtractLimit = uint64_t(4) << 30;

// Refuses, before writing anything, a package that cannot be read safely:
// a stream that does not decompress, a broken package, a name that is not
// bare, two records of one name, more than kExtractLimit bytes. The files
// are streamed from the packages; after a failure nothing it made is left,
// folders included. written lists the files made.
bool ExtractPayload(const PayloadReport &report, const std::string &dir,
                    std::vector<std::string> &written, std::string &error);

// The option block as "Field = value" lines, each value printable (control
// characters and bytes above 0x7E as \xNN), so that every field is one line.
std::string OptionBlockText(const OptionBlock &options);

}  // namespace fwpack

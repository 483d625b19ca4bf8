// Unpacks every package of a payload into DIR/<package name>/ with the
// stored access and write times, and the option block as DIR/OptionBlock.txt.
#pragma once
#include <string>
#include <vector>

#include "payload_report.h"

namespace fwpack {

// Refuses, before writing anything, a package that cannot be read safely:
// a stream that does not decompress, a broken package, a name that is not
// bare, two records of one name. written lists the files made.
bool ExtractPayload(const PayloadReport &report, const std::string &dir,
                    std::vector<std::string> &written, std::string &error);

// The option block as "Field = value" lines.
std::string OptionBlockText(const OptionBlock &options);

}  // namespace fwpack

// The consistency rules every reader of a package relies on.
#pragma once
#include <string>
#include <vector>

#include "tools/fwpack/inspect/payload_report.h"

namespace fwpack {

// One line per problem ("2002 BiosPackage: ..."); empty when consistent.
std::vector<std::string> PayloadProblems(const PayloadReport &report);

}  // namespace fwpack

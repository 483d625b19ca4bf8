// The inspector's two views of a payload: text for people, JSON for tools.
#pragma once
#include <string>
#include <vector>

#include "tools/fwpack/inspect/payload_report.h"

namespace fwpack {

std::string InspectText(const PayloadReport &report, const std::string &path, ContainerKind kind);
// extraMembers: more "name": value members of the top-level object, after
// the payload's own; empty ones are left out.
std::string InspectJson(const PayloadReport &report, const std::string &path, ContainerKind kind,
                        const std::vector<std::string> &extraMembers = {});

// A JSON string literal, quotes included. Bytes above 0x7F are taken as
// Latin-1, the names being 8-bit text of no fixed code page.
std::string JsonString(std::string_view text);

}  // namespace fwpack

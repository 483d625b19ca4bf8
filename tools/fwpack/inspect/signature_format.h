// The signature as inspect shows it: a text block and a JSON member.
#pragma once
#include <string>

#include "tools/fwpack/authenticode/read.h"

namespace fwpack {

std::string SignatureText(const SignatureReport &r);
// "\"signature\": {...}", to go into inspect's JSON object.
std::string SignatureJson(const SignatureReport &r);

}  // namespace fwpack

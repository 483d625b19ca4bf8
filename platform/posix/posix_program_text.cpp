// Linux hands the program its arguments as bytes, UTF-8 by convention, and
// a terminal shows what is printed as it is.
#include "platform/program_text.h"

namespace fwpack {

std::vector<std::string> Utf8Arguments(int argc, char **argv) {
    return std::vector<std::string>(argv, argv + argc);
}

Utf8Console::Utf8Console() {}
Utf8Console::~Utf8Console() {}

}  // namespace fwpack

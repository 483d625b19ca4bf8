#include "dialog/result_log.h"

#include <algorithm>

namespace fwpack {

std::string ResultLogPathFor(std::string_view modulePath) {
    // The module path as the program's 260-byte buffer holds it.
    std::string_view path =
        modulePath.substr(0, std::min(modulePath.size(), kPathBufferSize - 1));
    size_t slash = path.rfind('\\');
    std::string folder(slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash));
    return folder + "\\" + kResultLogName;
}

void WriteFlashResult(DialogContext &context) {
    context.Program.WritePrivateProfile(context.Run.ResultLogPath, kResultLogSection,
                                       kResultLogKey, kResultLogValue);
}

}  // namespace fwpack

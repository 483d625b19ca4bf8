// Paths are UTF-8 strings throughout the builder. std::filesystem reads a
// plain string in the system's narrow encoding, which on Windows is not
// UTF-8: every string crosses into a path, and back, through these two.
#pragma once
#include <filesystem>
#include <string>

namespace fwpack {

inline std::filesystem::path Utf8Path(const std::string &text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// Whether text can name a file here: any bytes on Linux, only UTF-8 on
// Windows (where Utf8Path throws for anything else).
inline bool IsPathText(const std::string &text) {
    try {
        (void)Utf8Path(text);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

inline std::string Utf8String(const std::filesystem::path &path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace fwpack

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

// A Windows network path starts with two separators ("\\server\share\x",
// "\\?\C:\x"). The standard library here does not know that form: it
// neither counts such a path as absolute nor keeps the two separators when
// it normalises one. Elsewhere two leading slashes are one.
inline bool IsNetworkPath(const std::filesystem::path &path) {
    using Char = std::filesystem::path::value_type;
    auto separator = [](Char c) { return c == Char('/') || c == Char('\\'); };
    const auto &text = path.native();
    return std::filesystem::path::preferred_separator == Char('\\') && text.size() > 2 &&
           separator(text[0]) && separator(text[1]);
}

// lexically_normal(), with a network path's two separators kept.
inline std::filesystem::path NormalPath(const std::filesystem::path &path) {
    if (!IsNetworkPath(path)) return path.lexically_normal();
    std::filesystem::path out(path.native().substr(0, 2));
    out += std::filesystem::path(path.native().substr(2)).lexically_normal();
    return out;
}

inline std::string Utf8String(const std::filesystem::path &path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace fwpack

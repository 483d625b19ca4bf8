#include "run/run_log.h"

#include <cstdio>

namespace fwpack {

namespace {

std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (u < 0x20 || u == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else out += c;
    }
    return out;
}

}  // namespace

void RunLog::Start(LogFile &file, std::string_view path) {
    file_ = &file;
    on_.store(!path.empty() && file.Open(path), std::memory_order_relaxed);
}

void RunLog::Line(std::string_view text) {
    if (!On()) return;
    // Each line is one append of its own: the two threads' lines never mix.
    if (!file_->Append(file_->Now() + " " + Escaped(text)))
        on_.store(false, std::memory_order_relaxed);
}

std::string InQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace fwpack

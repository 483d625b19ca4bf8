// The files the DOS updater makes in the current directory while it runs
// (on UEFI also the helper that runs a script tool).
// A packaged file with one of these names would be written over the
// updater's own work and then deleted, so neither the updater nor the
// package builder accepts one. DOS compares names without regard to case,
// and so does this check. Freestanding: usable by any program.
#pragma once
#include <cstddef>

#include "platform/dos_platform.h"

namespace fwpack {

inline constexpr char kWasteFile[] = "waste.dat";
inline constexpr char kDosScratch[] = "dosexe.dat";
inline constexpr char kDosUnpacked[] = "udosexe.dat";
inline constexpr char kBinScratch[] = "bin.dat";
inline constexpr char kMeScratch[] = "MEbin.dat";
inline constexpr char kMeUnpacked[] = "uMEbin.dat";
inline constexpr char kMeLog[] = "me.log";
inline constexpr char kErrorLog[] = "error.log";

inline constexpr const char *kDosWorkFiles[] = {kWasteFile, kDosScratch, kDosUnpacked, kBinScratch, kMeScratch,
                                                kMeUnpacked, kMeLog, kErrorLog, kUefiScriptRunner, kUefiScriptStatus};

namespace work_files_detail {
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
constexpr bool SameNameIgnoringCase(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    return *a == *b;
}
}  // namespace work_files_detail

// True when name (NUL-terminated) is one of the work files, in any case.
constexpr bool IsDosWorkFileName(const char *name) {
    for (const char *work : kDosWorkFiles)
        if (work_files_detail::SameNameIgnoringCase(name, work)) return true;
    return false;
}

}  // namespace fwpack

#include "tools/fwpack/inspect/file_times.h"

#include <cstdio>

namespace fwpack {

std::string FileTimeIso8601(uint64_t fileTime) {
    // Civil date by era arithmetic counted from 0000-03-01, so that leap days
    // fall at the end of a year; 1601-01-01 is day 584694 of that count.
    uint64_t seconds = fileTime / 10000000;
    unsigned fraction = unsigned(fileTime % 10000000);
    uint64_t days = seconds / 86400, rest = seconds % 86400;
    int64_t z = int64_t(days) + 584694;
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02u:%02u:%02u", (long long)y,
                          (long long)m, (long long)d, unsigned(rest / 3600),
                          unsigned(rest / 60 % 60), unsigned(rest % 60));
    if (fraction != 0) std::snprintf(buf + n, sizeof buf - size_t(n), ".%07u", fraction);
    return std::string(buf) + "Z";
}

}  // namespace fwpack

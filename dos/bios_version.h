// The order of BIOS versions. A version is in letter form when it starts
// with a letter ("A06") and in digit form when it starts with a digit
// ("1.0.5"). Ranking: 'A' above 'X' above 'T' and digit forms, which count
// as equal to each other.
#pragma once
#include "dos/text.h"

namespace fwpack {

inline constexpr int kVersionNewer = 1, kVersionSame = 0, kVersionOlder = -1,
                     kVersionOldUnusable = -2, kVersionNewUnusable = -3,
                     kVersionPartsDiffer = -4;

// 1 new is newer, 0 same, -1 older, -2 old unusable, -3 new unusable,
// -4 digit forms with different numbers of parts.
int CompareBiosVersion(TextView newVersion, TextView oldVersion);

// Digit forms: up to three '.'-separated parts of up to three characters
// each, compared as decimal numbers. -4 when the part counts differ.
int CompareDigitVersion(TextView newVersion, TextView oldVersion);

// The leading decimal number of text as the C library's atoi reads it.
long LeadingNumber(TextView text);

}  // namespace fwpack

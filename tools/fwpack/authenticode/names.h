// The object identifiers of a PE code signature, in one place for the
// writer and the reader.
#pragma once

namespace fwpack::oid {

inline constexpr char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
inline constexpr char kSpcPeImageData[] = "1.3.6.1.4.1.311.2.1.15";
inline constexpr char kSpcSpOpusInfo[] = "1.3.6.1.4.1.311.2.1.12";
// Unsigned attributes that carry a time-stamp: an RFC 3161 token, or a
// PKCS#9 countersignature.
inline constexpr char kRfc3161Timestamp[] = "1.3.6.1.4.1.311.3.3.1";
inline constexpr char kCounterSignature[] = "1.2.840.113549.1.9.6";
// An unsigned attribute holding a further signature over the same file.
inline constexpr char kSpcNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";
inline constexpr char kSha256[] = "2.16.840.1.101.3.4.2.1";

// The link a PE image's signature names in place of a file: this fixed text.
inline constexpr char kObsoleteLink[] = "<<<Obsolete>>>";

}  // namespace fwpack::oid

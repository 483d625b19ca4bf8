// The PE side of a code signature: where the certificate table is, what
// its entries are and how a table is attached. Plain bytes: no
// cryptography, so every build of the tool has it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/fwpack/authenticode/signature_report.h"

namespace fwpack {

// WIN_CERTIFICATE: revision 2.0, type PKCS#7 SignedData.
inline constexpr uint16_t kWinCertRevision = 0x0200, kWinCertTypePkcs7 = 0x0002;
inline constexpr size_t kWinCertHeaderSize = 8, kWinCertAlignment = 8;

struct SignatureSpan {
    size_t ChecksumOffset = 0;   // the optional header's CheckSum (4 bytes)
    size_t EntryOffset = 0;      // the certificate table's directory entry (8 bytes)
    uint32_t TableOffset = 0;    // a file offset, not an address
    uint32_t TableSize = 0;
    bool HasTable() const { return TableOffset != 0 || TableSize != 0; }
};

// Reads the headers and the directory entry. False with one line when the
// image is damaged, has no certificate table entry, or the entry points
// outside the file or into the headers.
bool LocateSignature(const std::vector<uint8_t> &file, SignatureSpan &out, std::string &error);

// Where the table is, into span, and whether there is one, into r; its
// faults go to r's problems. False when there is nothing further to read:
// no table, or one that cannot be found.
bool FindSignatureTable(const std::vector<uint8_t> &file, SignatureSpan &span, SignatureReport &r);

// One entry of the table; Data points into the file.
struct WinCertificate {
    uint16_t Revision = 0, Type = 0;
    const uint8_t *Data = nullptr;
    size_t Length = 0;
};
// The table's entries, each checked against the table's size.
bool ReadCertificateTable(const std::vector<uint8_t> &file, const SignatureSpan &span,
                          std::vector<WinCertificate> &out, std::string &error);

// Zero bytes up to the table's alignment: the table must start on it, and
// the padding belongs to the signed bytes.
void PadForCertificateTable(std::vector<uint8_t> &file);
// Appends a one-entry table holding the signature, points the directory
// entry at it and sets the checksum. The file is padded already, and
// signedWordSum is the word sum ImageDigest gave for it.
void AttachCertificateTable(std::vector<uint8_t> &file, const SignatureSpan &span,
                            const std::vector<uint8_t> &pkcs7, uint64_t signedWordSum);

}  // namespace fwpack

#include "tools/fwpack/authenticode/table.h"

#include <algorithm>

#include "payload/bytes.h"
#include "tools/fwpack/pe/image.h"

namespace fwpack {

bool LocateSignature(const std::vector<uint8_t> &file, SignatureSpan &out, std::string &error) {
    out = SignatureSpan{};
    PeImage image;
    if (ParsePeImage(file, image, error) != PeError::None) return false;
    if (image.Directories.size() <= kDirectorySecurity) {
        error = "the image has no certificate table entry (" +
                std::to_string(image.Directories.size()) + " data directories)";
        return false;
    }
    out.ChecksumOffset = image.OptionalOffset + pe_opt::CheckSum;
    out.EntryOffset = image.OptionalOffset + pe_opt::DataDirectories + 8 * kDirectorySecurity;
    out.TableOffset = image.Directories[kDirectorySecurity].Rva;
    out.TableSize = image.Directories[kDirectorySecurity].Size;
    if (!out.HasTable()) return true;
    const std::string where = "certificate table at " + std::to_string(out.TableOffset) + ", " +
                              std::to_string(out.TableSize) + " bytes";
    if (uint64_t(out.TableOffset) + out.TableSize > file.size()) {
        error = where + ", runs past the end of the file (" + std::to_string(file.size()) + " bytes)";
        return false;
    }
    if (out.TableOffset < out.EntryOffset + 8 || out.TableSize < kWinCertHeaderSize) {
        error = where + ", overlaps the headers or is too small for an entry";
        return false;
    }
    return true;
}

bool FindSignatureTable(const std::vector<uint8_t> &file, SignatureSpan &span, SignatureReport &r) {
    std::string error;
    const bool located = LocateSignature(file, span, error);
    r.Signed = span.HasTable();
    if (!located) r.Problems.push_back("signature: " + error);
    if (!located || !r.Signed) return false;
    if (size_t end = size_t(span.TableOffset) + span.TableSize; end < file.size())
        r.Problems.push_back("signature: " + std::to_string(file.size() - end) +
                             " bytes follow the certificate table");
    return true;
}

bool ReadCertificateTable(const std::vector<uint8_t> &file, const SignatureSpan &span,
                          std::vector<WinCertificate> &out, std::string &error) {
    out.clear();
    const uint8_t *table = file.data() + span.TableOffset;
    size_t at = 0;
    uint32_t length = 0;
    uint16_t revision = 0, type = 0;
    while (ReadU32(table, span.TableSize, at, length) &&
           ReadU16(table, span.TableSize, at + 4, revision) &&
           ReadU16(table, span.TableSize, at + 6, type)) {
        if (length < kWinCertHeaderSize || length > span.TableSize - at) {
            error = "certificate table entry at " + std::to_string(span.TableOffset + at) +
                    " claims " + std::to_string(length) + " bytes; " +
                    std::to_string(span.TableSize - at) + " are left in the table";
            return false;
        }
        out.push_back({revision, type, table + at + kWinCertHeaderSize, length - kWinCertHeaderSize});
        at += AlignUp(length, kWinCertAlignment);
    }
    // The directory's size is the entries' and their padding's: more is
    // room for bytes no signature covers.
    if (at < span.TableSize) {
        error = "the certificate table's last " + std::to_string(span.TableSize - at) +
                " bytes hold no entry";
        return false;
    }
    return true;
}

void PadForCertificateTable(std::vector<uint8_t> &file) {
    file.resize(AlignUp(file.size(), kWinCertAlignment), 0);
}

void AttachCertificateTable(std::vector<uint8_t> &file, const SignatureSpan &span,
                            const std::vector<uint8_t> &pkcs7, uint64_t signedWordSum) {
    const size_t offset = file.size();
    const size_t length = AlignUp(kWinCertHeaderSize + pkcs7.size(), kWinCertAlignment);
    file.resize(offset + length, 0);
    uint8_t *entry = file.data() + offset;
    PutU32(entry, uint32_t(length));
    PutU16(entry + 4, kWinCertRevision);
    PutU16(entry + 6, kWinCertTypePkcs7);
    std::copy(pkcs7.begin(), pkcs7.end(), entry + kWinCertHeaderSize);
    PutU32(file.data() + span.EntryOffset, uint32_t(offset));
    PutU32(file.data() + span.EntryOffset + 4, uint32_t(length));
    // The checksum: the signed bytes, then what they leave out but the
    // checksum counts, the directory entry and the table.
    const uint64_t sum = signedWordSum + PeWordSum(file.data(), span.EntryOffset, span.EntryOffset + 8) +
                         PeWordSum(file.data(), offset, file.size());
    PutU32(file.data() + span.ChecksumOffset, PeChecksumFromSum(sum, file.size()));
}

}  // namespace fwpack

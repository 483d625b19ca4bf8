#include "tools/fwpack/pe/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "payload/bytes.h"

namespace fwpack {

uint32_t PeSection::VirtualEnd() const {
    return uint32_t(std::min<uint64_t>(uint64_t(VirtualAddress) + std::max(VirtualSize, SizeOfRawData),
                                       UINT32_MAX));
}

bool PeImage::RvaToOffset(uint32_t rva, size_t &offset, size_t &available) const {
    for (const PeSection &s : Sections) {
        // The loader maps no more than VirtualSize bytes of the raw data.
        uint32_t mapped = s.VirtualSize ? std::min(s.VirtualSize, s.SizeOfRawData) : s.SizeOfRawData;
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress < mapped) {
            offset = size_t(s.PointerToRawData) + (rva - s.VirtualAddress);
            available = mapped - (rva - s.VirtualAddress);
            return true;
        }
    }
    return false;
}

static bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

namespace {

PeError Damaged(std::string &error, const std::string &why) {
    error = why;
    return PeError::Damaged;
}

// The MZ and PE signatures, the COFF file header and the machine.
PeError ReadFileHeader(const std::vector<uint8_t> &file, PeImage &out, uint16_t &sectionCount,
                       std::string &error) {
    const uint8_t *d = file.data();
    const size_t size = file.size();
    if (size < 0x40 || d[0] != 'M' || d[1] != 'Z') {
        error = "not a PE executable (no MZ header)";
        return PeError::NotPe;
    }
    uint32_t peOffset = ReadU32(d + 0x3c);
    if (uint64_t(peOffset) + 24 > size || std::memcmp(d + peOffset, "PE\0\0", 4) != 0) {
        error = "not a PE executable (no PE signature)";
        return PeError::NotPe;
    }
    out.PeOffset = peOffset;
    out.FileHeaderOffset = size_t(peOffset) + 4;
    const uint8_t *fh = d + out.FileHeaderOffset;
    out.Machine = ReadU16(fh);
    sectionCount = ReadU16(fh + 2);
    out.PointerToSymbolTable = ReadU32(fh + 8);
    out.SizeOfOptionalHeader = ReadU16(fh + 16);
    out.OptionalOffset = out.FileHeaderOffset + 20;
    if (out.OptionalOffset + 2 > size)
        return Damaged(error, "damaged PE headers (optional header past the end of the file)");
    out.OptionalMagic = ReadU16(d + out.OptionalOffset);
    if (out.Machine != kMachineAmd64 || out.OptionalMagic != kOptionalMagicPe32Plus) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "not an x86_64 PE32+ executable (machine 0x%04x, magic 0x%03x)",
                      out.Machine, out.OptionalMagic);
        error = buf;
        return PeError::NotAmd64;
    }
    return PeError::None;
}

// Alignments, header size and the data directories.
PeError ReadOptionalHeader(const std::vector<uint8_t> &file, PeImage &out, std::string &error) {
    if (out.SizeOfOptionalHeader < pe_opt::DataDirectories ||
        out.OptionalOffset + out.SizeOfOptionalHeader > file.size())
        return Damaged(error, "damaged PE headers (optional header too short or past the end of the file)");
    const uint8_t *opt = file.data() + out.OptionalOffset;
    out.SectionAlignment = ReadU32(opt + pe_opt::SectionAlignment);
    out.FileAlignment = ReadU32(opt + pe_opt::FileAlignment);
    out.SizeOfHeaders = ReadU32(opt + pe_opt::SizeOfHeaders);
    out.SizeOfImage = ReadU32(opt + pe_opt::SizeOfImage);
    out.Subsystem = ReadU16(opt + pe_opt::Subsystem);
    if (!IsPowerOfTwo(out.SectionAlignment) || !IsPowerOfTwo(out.FileAlignment) ||
        out.FileAlignment > out.SectionAlignment)
        return Damaged(error, "damaged PE headers (bad section or file alignment)");
    uint32_t dirCount = ReadU32(opt + pe_opt::NumberOfRvaAndSizes);
    if (uint64_t(pe_opt::DataDirectories) + uint64_t(dirCount) * 8 > out.SizeOfOptionalHeader)
        return Damaged(error, "damaged PE headers (data directories overrun the optional header)");
    for (uint32_t i = 0; i < dirCount; ++i) {
        const uint8_t *e = opt + pe_opt::DataDirectories + 8 * i;
        out.Directories.push_back({ReadU32(e), ReadU32(e + 4)});
    }
    return PeError::None;
}

// The section table: every section inside the file, in address order.
PeError ReadSectionTable(const std::vector<uint8_t> &file, uint16_t sectionCount, PeImage &out,
                         std::string &error) {
    out.SectionTableOffset = out.OptionalOffset + out.SizeOfOptionalHeader;
    if (out.SectionTableOffset + size_t(sectionCount) * kSectionHeaderSize > file.size())
        return Damaged(error, "damaged PE headers (section table past the end of the file)");
    for (uint16_t i = 0; i < sectionCount; ++i) {
        size_t at = out.SectionTableOffset + size_t(i) * kSectionHeaderSize;
        const uint8_t *h = file.data() + at;
        PeSection s;
        FieldSpan name;
        ReadField(h, kSectionHeaderSize, 0, 8, name);
        s.Name.assign(reinterpret_cast<const char *>(h), name.Length);
        s.VirtualSize = ReadU32(h + 8);
        s.VirtualAddress = ReadU32(h + 12);
        s.SizeOfRawData = ReadU32(h + 16);
        s.PointerToRawData = ReadU32(h + 20);
        s.Characteristics = ReadU32(h + 36);
        s.HeaderOffset = at;
        if (s.SizeOfRawData != 0 && uint64_t(s.PointerToRawData) + s.SizeOfRawData > file.size())
            return Damaged(error, "truncated PE file (section " + s.Name + " runs past the end of the file)");
        if (!out.Sections.empty() && s.VirtualAddress < out.Sections.back().VirtualEnd())
            return Damaged(error, "damaged PE headers (sections overlap or are out of order)");
        out.Sections.push_back(s);
    }
    return PeError::None;
}

}  // namespace

PeError ParsePeImage(const std::vector<uint8_t> &file, PeImage &out, std::string &error) {
    out = PeImage{};
    uint16_t sectionCount = 0;
    PeError e = ReadFileHeader(file, out, sectionCount, error);
    if (e == PeError::None) e = ReadOptionalHeader(file, out, error);
    if (e == PeError::None) e = ReadSectionTable(file, sectionCount, out, error);
    return e;
}

namespace {

std::string LowAlignmentProblem(const PeImage &image) {
    if (image.FileAlignment != image.SectionAlignment)
        return "a low-alignment image (SectionAlignment " + std::to_string(image.SectionAlignment) +
               ") needs FileAlignment equal to it, not " + std::to_string(image.FileAlignment);
    for (const PeSection &s : image.Sections)
        if (s.SizeOfRawData != 0 && s.PointerToRawData != s.VirtualAddress)
            return "section " + s.Name + " of a low-alignment image is at file offset " +
                   std::to_string(s.PointerToRawData) + " but address " + std::to_string(s.VirtualAddress) +
                   "; there the two must be equal";
    return "";
}

}  // namespace

std::string PeLayoutProblem(const PeImage &image) {
    const std::string headers = "SizeOfHeaders " + std::to_string(image.SizeOfHeaders);
    if (image.SizeOfHeaders % image.FileAlignment != 0)
        return headers + " is not a multiple of FileAlignment " + std::to_string(image.FileAlignment);
    if (image.SizeOfHeaders > image.SizeOfImage)
        return headers + " reaches past SizeOfImage " + std::to_string(image.SizeOfImage);
    for (const PeSection &s : image.Sections) {
        if (image.SizeOfHeaders > s.VirtualAddress)
            return headers + " reaches into section " + s.Name + " at " + std::to_string(s.VirtualAddress);
        if (uint64_t(s.VirtualAddress) + (s.VirtualSize ? s.VirtualSize : s.SizeOfRawData) >
            AlignUp(image.SizeOfImage, image.SectionAlignment))
            return "section " + s.Name + " ends past SizeOfImage " + std::to_string(image.SizeOfImage);
    }
    return image.SectionAlignment < kPageSize ? LowAlignmentProblem(image) : "";
}

uint64_t SectionDataEnd(const PeImage &image) {
    uint64_t end = image.SizeOfHeaders;
    for (const PeSection &s : image.Sections)
        if (s.SizeOfRawData != 0) end = std::max<uint64_t>(end, uint64_t(s.PointerToRawData) + s.SizeOfRawData);
    return end;
}

std::string SectionDataGapProblem(const PeImage &image) {
    std::vector<const PeSection *> stored;
    for (const PeSection &s : image.Sections)
        if (s.SizeOfRawData != 0) stored.push_back(&s);
    std::sort(stored.begin(), stored.end(), [](const PeSection *a, const PeSection *b) {
        return a->PointerToRawData < b->PointerToRawData;
    });
    uint64_t end = image.SizeOfHeaders;
    for (const PeSection *s : stored) {
        if (s->PointerToRawData != end)
            return "section " + s->Name + "'s data start at file offset " +
                   std::to_string(s->PointerToRawData) + ", not at " + std::to_string(end) +
                   " where the headers or the previous section end";
        end += s->SizeOfRawData;
    }
    return "";
}

// The sum of the 16-bit words with end-around carry is their plain sum
// modulo 0xFFFF, and as 2^16 is 1 modulo 0xFFFF a 32-bit word adds what its
// two halves add: the middle goes eight bytes at a time, as two 32-bit
// halves. The plain sum is zero only when every byte is zero.
uint64_t PeWordSum(const uint8_t *d, size_t from, size_t to) {
    uint64_t sum = 0;
    size_t i = from;
    for (; i < to && i % 8 != 0; ++i) sum += uint64_t(d[i]) << (8 * (i & 1));
    for (; i + 8 <= to; i += 8) sum += uint64_t(ReadU32(d + i)) + ReadU32(d + i + 4);
    for (; i < to; ++i) sum += uint64_t(d[i]) << (8 * (i & 1));
    return sum;
}

uint32_t PeChecksumFromSum(uint64_t sum, size_t fileSize) {
    // Folding with end-around carry never comes back to 0 once a word was
    // not 0: a positive multiple of 0xFFFF folds to 0xFFFF.
    const uint32_t folded = sum == 0 ? 0 : uint32_t((sum - 1) % 0xFFFF + 1);
    return uint32_t(folded + fileSize);
}

uint32_t ComputePeChecksum(const std::vector<uint8_t> &file, size_t checksumOffset) {
    const size_t size = file.size();
    if (checksumOffset >= size) return PeChecksumFromSum(PeWordSum(file.data(), 0, size), size);
    const size_t fieldEnd = std::min(size, checksumOffset + 4);
    return PeChecksumFromSum(PeWordSum(file.data(), 0, checksumOffset) + PeWordSum(file.data(), fieldEnd, size),
                             size);
}

}  // namespace fwpack

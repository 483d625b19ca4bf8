// The parts of a PE32+ (x86_64) image file that the package writer reads and
// rewrites: the headers' offsets, the section table and the data
// directories. Parsing never reads outside the file's bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

inline constexpr uint16_t kMachineAmd64 = 0x8664;
inline constexpr uint16_t kOptionalMagicPe32Plus = 0x20b;
inline constexpr size_t kSectionHeaderSize = 40;
inline constexpr unsigned kDirectorySecurity = 4;
inline constexpr unsigned kDirectoryResource = 2;
inline constexpr uint32_t kScnInitializedData = 0x00000040;
inline constexpr uint32_t kScnMemRead = 0x40000000;
inline constexpr uint16_t kSubsystemEfiApplication = 10;

// Offsets inside the PE32+ optional header.
namespace pe_opt {
inline constexpr size_t Magic = 0, SizeOfInitializedData = 8, SectionAlignment = 32,
                        FileAlignment = 36, SizeOfImage = 56, SizeOfHeaders = 60, CheckSum = 64,
                        Subsystem = 68,
                        NumberOfRvaAndSizes = 108, DataDirectories = 112;
}

struct PeSection {
    std::string Name;   // up to 8 bytes as stored ("/4" style names are not resolved)
    uint32_t VirtualSize = 0, VirtualAddress = 0, SizeOfRawData = 0, PointerToRawData = 0,
             Characteristics = 0;
    size_t HeaderOffset = 0;   // where its 40-byte entry sits in the file
    uint32_t VirtualEnd() const;   // VirtualAddress + the larger of the two sizes
};

struct PeDirectory {
    uint32_t Rva = 0, Size = 0;
};

struct PeImage {
    size_t PeOffset = 0;            // "PE\0\0"
    size_t FileHeaderOffset = 0;    // COFF file header
    size_t OptionalOffset = 0;      // optional header
    uint16_t Machine = 0, OptionalMagic = 0, SizeOfOptionalHeader = 0;
    uint32_t PointerToSymbolTable = 0;
    uint32_t SectionAlignment = 0, FileAlignment = 0, SizeOfHeaders = 0, SizeOfImage = 0;
    uint16_t Subsystem = 0;
    size_t SectionTableOffset = 0;
    std::vector<PeSection> Sections;
    std::vector<PeDirectory> Directories;

    // File offset of the bytes at rva, with how many bytes of the file
    // belong to that section from there; false when no section's file data
    // covers rva.
    bool RvaToOffset(uint32_t rva, size_t &offset, size_t &available) const;
};

enum class PeError { None, NotPe, NotAmd64, Damaged };

// Reads the headers. NotPe: no MZ/PE signatures; NotAmd64: a PE that is not
// a PE32+ image for x86_64; Damaged: headers that run past the file or make
// no sense (error says which).
PeError ParsePeImage(const std::vector<uint8_t> &file, PeImage &out, std::string &error);

// Below a page, the loader maps the file as it stands: there file offsets
// must equal addresses.
inline constexpr uint32_t kPageSize = 4096;

// What makes the loader map image wrongly or refuse it, as one line, or ""
// when nothing does: SizeOfHeaders not a multiple of FileAlignment or
// reaching past the first section or SizeOfImage, a section past
// SizeOfImage, and in a low-alignment image (SectionAlignment below a page)
// a FileAlignment other than SectionAlignment or a section whose file
// offset is not its address.
std::string PeLayoutProblem(const PeImage &image);

// Where the sections' file data end (the headers' end when no section has
// any): what follows is no part of the loaded image.
uint64_t SectionDataEnd(const PeImage &image);

// A loader that hashes an image for its signature header by header and
// section by section (then the rest of the file) gets the digest of the
// file's bytes in order only when the sections' file data follow the
// headers back to back. The gap or overlap as one line, or "".
std::string SectionDataGapProblem(const PeImage &image);

// The optional header's CheckSum as the system computes it: the 16-bit
// one's-complement-style sum of the file with the CheckSum field taken as
// zero, plus the file's length.
uint32_t ComputePeChecksum(const std::vector<uint8_t> &file, size_t checksumOffset);
// The same in pieces, for a caller that reads the file once for more than
// the checksum: the bytes [from, to) of the file at d as 16-bit words (the
// sums of pieces add up), and the checksum from the sum of every piece.
uint64_t PeWordSum(const uint8_t *d, size_t from, size_t to);
uint32_t PeChecksumFromSum(uint64_t sum, size_t fileSize);

inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return alignment ? (value + alignment - 1) / alignment * alignment : value;
}

}  // namespace fwpack

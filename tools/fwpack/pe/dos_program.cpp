#include "tools/fwpack/pe/dos_program.h"

#include <algorithm>
#include <cstdio>

#include "payload/bytes.h"
#include "tools/fwpack/pe/image.h"

namespace fwpack {
namespace {

constexpr size_t kMzHeaderMin = 0x40;   // room for e_lfanew at 0x3C
constexpr size_t kLfanewAt = 0x3C;
constexpr uint32_t kPeHeaderAlignment = 8;
constexpr unsigned kDirectoryDebug = 6;
constexpr size_t kDebugEntrySize = 28, kDebugRawPointerAt = 24;

std::string Number(uint64_t v) { return std::to_string(v); }

std::string Hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", unsigned(v));
    return text;
}

// Moves the file offset at p by delta when it is set.
void MoveOffset(uint8_t *p, int64_t delta) {
    if (uint32_t value = ReadU32(p)) PutU32(p, uint32_t(int64_t(value) + delta));
}

// The debug directory's entries hold file offsets of their data.
bool MoveDebugData(std::vector<uint8_t> &file, const PeImage &image, int64_t delta,
                   std::string &error) {
    if (image.Directories.size() <= kDirectoryDebug) return true;
    const PeDirectory &debug = image.Directories[kDirectoryDebug];
    if (debug.Rva == 0 || debug.Size == 0) return true;
    size_t at = 0, available = 0;
    if (!image.RvaToOffset(debug.Rva, at, available) || available < debug.Size) {
        error = "the debug directory lies outside the sections";
        return false;
    }
    for (size_t i = 0; i + kDebugEntrySize <= debug.Size; i += kDebugEntrySize)
        MoveOffset(file.data() + at + i + kDebugRawPointerAt, delta);
    return true;
}

// DOS loads the bytes after the header as the program's image, patches
// every relocation's word in it and jumps to CS:IP: each of these must lie
// inside the image, or DOS writes and runs memory that is not the program.
bool CheckLoadImage(const std::vector<uint8_t> &file, const DosProgramInfo &info, std::string &error) {
    const uint32_t image = info.FileSize - info.HeaderSize;
    const uint32_t entry = uint32_t(info.Cs) * 16 + info.Ip;
    if (entry >= image) {
        error = "MZ header: entry point " + Hex4(info.Cs) + ":" + Hex4(info.Ip) + " lies outside the program's " +
                Number(image) + " bytes";
        return false;
    }
    uint16_t table = 0;
    ReadU16(file.data(), file.size(), 0x18, table);
    if (uint64_t(table) + uint64_t(info.Relocations) * 4 > info.HeaderSize) {
        error = "MZ header: the relocation table (" + Number(info.Relocations) + " entries at " + Number(table) +
                ") runs past the header's " + Number(info.HeaderSize) + " bytes";
        return false;
    }
    for (uint16_t i = 0; i < info.Relocations; ++i) {
        uint16_t offset = 0, segment = 0;
        ReadU16(file.data(), file.size(), table + 4 * size_t(i), offset);
        ReadU16(file.data(), file.size(), table + 4 * size_t(i) + 2, segment);
        const uint32_t at = uint32_t(segment) * 16 + offset;
        if (uint64_t(at) + 2 > image) {
            error = "MZ header: relocation " + Number(i) + " patches the word at " + Hex4(segment) + ":" +
                    Hex4(offset) + ", outside the program's " + Number(image) + " bytes";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadDosProgram(const std::vector<uint8_t> &file, size_t peOffset, DosProgramInfo &out,
                    std::string &error) {
    out = DosProgramInfo{};
    const uint8_t *d = file.data();
    if (file.size() < kMzHeaderMin || d[0] != 'M' || d[1] != 'Z') {
        error = "no MZ header";
        return false;
    }
    // Inside the 64 bytes just checked; a word past the end would read 0.
    auto word = [&](size_t at) {
        uint16_t v = 0;
        ReadU16(d, file.size(), at, v);
        return v;
    };
    uint16_t lastPage = word(2), pages = word(4);
    out.Relocations = word(6);
    out.HeaderSize = uint32_t(word(8)) * 16;
    uint16_t minExtra = word(10), maxExtra = word(12);
    out.Ss = word(14);
    out.Sp = word(16);
    out.Ip = word(20);
    out.Cs = word(22);
    if (pages == 0 || lastPage >= 512) {
        error = "MZ header: " + Number(pages) + " pages, " + Number(lastPage) + " bytes in the last";
        return false;
    }
    out.FileSize = uint32_t(pages) * 512 - (lastPage ? 512 - lastPage : 0);
    if (out.HeaderSize < kMzHeaderMin || out.HeaderSize > out.FileSize) {
        error = "MZ header: header of " + Number(out.HeaderSize) + " bytes in a program of " +
                Number(out.FileSize);
        return false;
    }
    if (out.FileSize > file.size()) {
        error = "its header says " + Number(out.FileSize) + " bytes, the file has " +
                Number(file.size());
        return false;
    }
    if (!CheckLoadImage(file, out, error)) return false;
    out.OverlapsPe = peOffset != 0 && out.FileSize > peOffset;
    out.MemorySize = out.FileSize - out.HeaderSize + uint32_t(minExtra) * 16;
    out.TakesAllMemory = maxExtra > minExtra;
    return true;
}

namespace {

// Where the parts of the new file go.
struct DosLayout {
    size_t HeadersEnd = 0;         // end of the old section table
    size_t NewPeOffset = 0;        // the PE headers' offset after the DOS program
    uint64_t NewSizeOfHeaders = 0;
};

// Step 1: both parts as they are.
bool CheckParts(const PeImage &image, const std::vector<uint8_t> &dos, std::string &error) {
    DosProgramInfo program;
    if (!ReadDosProgram(dos, 0, program, error)) {
        error = "DOS program: " + error;
        return false;
    }
    if (program.FileSize != dos.size()) {
        error = "DOS program: its header says " + Number(program.FileSize) +
                " bytes, the file has " + Number(dos.size());
        return false;
    }
    uint16_t relocationTable = 0;
    ReadU16(dos.data(), dos.size(), 0x18, relocationTable);
    if (program.Relocations != 0 && relocationTable < kMzHeaderMin) {
        error = "DOS program: its relocation table overlaps e_lfanew";
        return false;
    }
    if (image.Directories.size() > kDirectorySecurity &&
        image.Directories[kDirectorySecurity].Size != 0) {
        error = "the PE is signed: put the DOS program in before signing";
        return false;
    }
    return true;
}

// Step 2: where the PE headers go, and whether the first section leaves room.
bool PlanLayout(const PeImage &image, size_t dosSize, DosLayout &l, std::string &error) {
    if (std::string problem = PeLayoutProblem(image); !problem.empty()) {
        error = "the PE: " + problem;
        return false;
    }
    // A low-alignment image is mapped as the file stands; headers that grow
    // would move every section away from its address.
    if (image.SectionAlignment < kPageSize) {
        error = "the PE is a low-alignment image (SectionAlignment " + Number(image.SectionAlignment) +
                "), whose sections cannot move to make room for a DOS program";
        return false;
    }
    l.HeadersEnd = image.SectionTableOffset + image.Sections.size() * kSectionHeaderSize;
    if (l.HeadersEnd > image.SizeOfHeaders) {
        error = "the PE's section table ends at " + Number(l.HeadersEnd) +
                ", past SizeOfHeaders " + Number(image.SizeOfHeaders);
        return false;
    }
    l.NewPeOffset = AlignUp(dosSize, kPeHeaderAlignment);
    l.NewSizeOfHeaders = AlignUp(l.NewPeOffset + (l.HeadersEnd - image.PeOffset), image.FileAlignment);
    if (l.NewSizeOfHeaders > image.SizeOfImage) {
        error = "the DOS program (" + Number(dosSize) + " bytes) and the PE headers need " +
                Number(l.NewSizeOfHeaders) + " bytes, past the image's SizeOfImage " + Number(image.SizeOfImage);
        return false;
    }
    uint32_t firstRva = UINT32_MAX;
    for (const PeSection &s : image.Sections) firstRva = std::min(firstRva, s.VirtualAddress);
    if (l.NewSizeOfHeaders > firstRva) {
        error = "the PE's first section starts at " + Number(firstRva) + "; the DOS program (" +
                Number(dosSize) + " bytes) and the PE headers need " + Number(l.NewSizeOfHeaders) +
                " (link the Windows program with its first section higher)";
        return false;
    }
    for (const PeSection &s : image.Sections) {
        if (s.SizeOfRawData != 0 && s.PointerToRawData < image.SizeOfHeaders) {
            error = "section " + s.Name + " has data inside the PE headers";
            return false;
        }
    }
    return true;
}

// Step 3: the new file: DOS program, PE headers, then everything after the
// old headers, moved by the difference.
void Assemble(const std::vector<uint8_t> &pe, const PeImage &image,
              const std::vector<uint8_t> &dos, const DosLayout &l, std::vector<uint8_t> &out) {
    out.assign(dos.begin(), dos.end());
    out.resize(l.NewPeOffset, 0);
    out.insert(out.end(), pe.begin() + long(image.PeOffset), pe.begin() + long(l.HeadersEnd));
    out.resize(l.NewSizeOfHeaders, 0);
    out.insert(out.end(), pe.begin() + long(std::min<size_t>(image.SizeOfHeaders, pe.size())),
               pe.end());
}

// Step 4: offsets in the moved headers, then in the sections' data, read
// through the moved headers; last the checksum.
bool MoveOffsets(const PeImage &image, const DosLayout &l, std::vector<uint8_t> &out,
                 std::string &error) {
    const int64_t delta = int64_t(l.NewSizeOfHeaders) - int64_t(image.SizeOfHeaders);
    const int64_t headerShift = int64_t(l.NewPeOffset) - int64_t(image.PeOffset);
    PutU32(out.data() + kLfanewAt, uint32_t(l.NewPeOffset));
    MoveOffset(out.data() + image.FileHeaderOffset + headerShift + 8, delta);  // symbol table
    uint8_t *opt = out.data() + image.OptionalOffset + headerShift;
    PutU32(opt + pe_opt::SizeOfHeaders, uint32_t(l.NewSizeOfHeaders));
    for (const PeSection &s : image.Sections)
        MoveOffset(out.data() + s.HeaderOffset + headerShift + 20, delta);

    PeImage moved;
    if (ParsePeImage(out, moved, error) != PeError::None) return false;
    if (!MoveDebugData(out, moved, delta, error)) return false;
    PutU32(opt + pe_opt::CheckSum, ComputePeChecksum(out, moved.OptionalOffset + pe_opt::CheckSum));
    return true;
}

}  // namespace

bool InsertDosProgram(const std::vector<uint8_t> &pe, const std::vector<uint8_t> &dos,
                      std::vector<uint8_t> &out, std::string &error) {
    PeImage image;
    if (ParsePeImage(pe, image, error) != PeError::None) return false;
    DosLayout layout;
    if (!CheckParts(image, dos, error) || !PlanLayout(image, dos.size(), layout, error))
        return false;
    Assemble(pe, image, dos, layout, out);
    if (!MoveOffsets(image, layout, out, error)) return false;
    PeImage written;
    if (ParsePeImage(out, written, error) != PeError::None) return false;
    if (std::string problem = PeLayoutProblem(written); !problem.empty()) {
        error = "the result's layout would be wrong: " + problem;
        return false;
    }
    return true;
}

}  // namespace fwpack

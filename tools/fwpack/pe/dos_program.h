// The real-mode DOS program in front of a PE's headers. A PE file starts
// with an MZ header; DOS loads the program that header describes and ignores
// the rest of the file, Windows follows e_lfanew (0x3C) to the PE headers.
// Layout written here, as linkers lay out their own stubs: the DOS program,
// the PE headers (at the next 8-byte boundary), the sections.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

struct DosProgramInfo {
    uint32_t FileSize = 0;      // bytes of the file that DOS loads, MZ header included
    uint32_t HeaderSize = 0;    // the MZ header
    uint32_t MemorySize = 0;    // loaded image plus the minimum extra memory
    bool TakesAllMemory = false;  // maximum extra memory above the minimum: DOS gives it
                                  // all free memory, so the program cannot run others
    bool OverlapsPe = false;    // DOS loads part of the PE headers too (linkers' small
                                // stubs declare more than their own bytes)
    uint16_t Relocations = 0;
    uint16_t Cs = 0, Ip = 0, Ss = 0, Sp = 0;
};

// Reads the MZ header at the start of file; the program must lie within
// the file. peOffset (0: none) is where the PE headers start.
bool ReadDosProgram(const std::vector<uint8_t> &file, size_t peOffset, DosProgramInfo &out,
                    std::string &error);

// A copy of pe with its DOS program replaced by dos (a whole MZ file): the
// PE headers move behind it and every file offset in the headers (section
// data, symbol table, debug data) moves with them; the checksum is
// recomputed. The first section's address must leave room for the headers;
// a signed PE is refused (its signature would no longer match).
bool InsertDosProgram(const std::vector<uint8_t> &pe, const std::vector<uint8_t> &dos,
                      std::vector<uint8_t> &out, std::string &error);

}  // namespace fwpack

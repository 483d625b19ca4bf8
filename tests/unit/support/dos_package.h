// Builds the four tagged resources a DOS updater run reads, with knobs for
// the faults the tests need (record counts, checksums, long names).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "payload/file_package.h"
#include "payload/option_block.h"

namespace fwpack::test {

struct DosPackageSpec {
    OptionBlock Options;                       // names and flags as the run sees them
    std::vector<PackageFile> Tools;            // DosPackage files
    std::vector<PackageFile> BiosFiles;        // BiosPackage files (normally one)
    std::vector<PackageFile> MeFiles;          // MePackage files (normally one)
    // Checksums to store instead of the real ones, by file name.
    std::map<std::string, uint32_t> ChecksumOverride;
};

// A sample: tools "flash.exe", "meinfo.exe", "meupd.exe"; images "bios.bin"
// and "me.bin" (the latter with "$MN2" and version 11.8.50.3425); the id
// "$FB$VENDOR$A05$20261207$R01$BOARD-X$0001".
DosPackageSpec SampleDosPackage();

// An ME image holding "$MN2" with the four version words.
std::vector<uint8_t> MeImage(uint16_t a, uint16_t b, uint16_t c, uint16_t d, size_t size = 4096);

// Resources 2000, 2002, 2003 and 2004, each with its tagged header.
std::map<uint16_t, std::vector<uint8_t>> BuildDosResources(const DosPackageSpec &spec);

PackageFile NamedFile(const std::string &name, std::vector<uint8_t> bytes);

// An MZ file of size bytes as the dos16 linker script lays one out: a
// 64-byte header, no relocations, equal minimum and maximum extra memory.
std::vector<uint8_t> DosProgram(uint32_t size, uint8_t seed);

}  // namespace fwpack::test

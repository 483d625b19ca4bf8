#include "support/dos_package.h"

#include "payload/bytes.h"
#include "payload/tagged_resource.h"
#include "support/test_files.h"

namespace fwpack::test {

namespace {
std::vector<uint8_t> Text(const std::string &s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Package(const std::vector<PackageFile> &files, const DosPackageSpec &spec) {
    std::vector<uint8_t> bytes = BuildFilePackage(files);
    for (size_t i = 0; i < files.size(); ++i) {
        auto it = spec.ChecksumOverride.find(files[i].Record.FileName);
        if (it != spec.ChecksumOverride.end())
            PutU32(bytes.data() + kPackageHeaderSize + i * kFileRecordSize + record_offset::Checksum,
                   it->second);
    }
    return bytes;
}
}  // namespace

PackageFile NamedFile(const std::string &name, std::vector<uint8_t> bytes) {
    PackageFile f;
    f.Record.FileName = name;
    f.Bytes = std::move(bytes);
    return f;
}

std::vector<uint8_t> MeImage(uint16_t a, uint16_t b, uint16_t c, uint16_t d, size_t size) {
    std::vector<uint8_t> image = SampleBytes(size, 7);
    for (auto &byte : image)
        if (byte == '$') byte = '#';   // one marker only
    size_t at = size / 2;
    const char marker[] = "$MN2";
    for (int i = 0; i < 4; ++i) image[at + i] = uint8_t(marker[i]);
    const uint16_t words[] = {a, b, c, d};
    for (int i = 0; i < 4; ++i) PutU16(image.data() + at + 8 + 2 * i, words[i]);
    return image;
}

DosPackageSpec SampleDosPackage() {
    DosPackageSpec spec;
    OptionBlock &o = spec.Options;
    o.DosFlashProgram = "flash.exe";
    o.DosMeQueryTool = "meinfo.exe";
    o.DosMeUpdateTool = "meupd.exe";
    o.BiosImageName = "bios.bin";
    o.MeImageName = "me.bin";
    o.IdString = "$FB$VENDOR$A05$20261207$R01$BOARD-X$0001";
    spec.Tools = {NamedFile("flash.exe", Text("#!/bin/sh\nexit 0\n")),
                  NamedFile("meinfo.exe", Text("#!/bin/sh\nexit 0\n")),
                  NamedFile("meupd.exe", Text("#!/bin/sh\nexit 0\n"))};
    spec.BiosFiles = {NamedFile("bios.bin", SampleBytes(100000, 3))};
    spec.MeFiles = {NamedFile("me.bin", MeImage(11, 8, 50, 3425))};
    return spec;
}

std::map<uint16_t, std::vector<uint8_t>> BuildDosResources(const DosPackageSpec &spec) {
    std::vector<uint8_t> options;
    SerializeOptionBlock(spec.Options, options);
    return {
        {DosPackage, MakeTaggedResource(DosPackage, Deflate(Package(spec.Tools, spec)))},
        {BiosPackage, MakeTaggedResource(BiosPackage, Package(spec.BiosFiles, spec))},
        {OptionResource, MakeTaggedResource(OptionResource, options)},
        {MePackage, MakeTaggedResource(MePackage, Deflate(Package(spec.MeFiles, spec)))},
    };
}

std::vector<uint8_t> DosProgram(uint32_t size, uint8_t seed) {
    std::vector<uint8_t> file(size);
    for (uint32_t i = 64; i < size; ++i) file[i] = uint8_t(i * 13 + seed);
    file[0] = 'M';
    file[1] = 'Z';
    PutU16(file.data() + 2, uint16_t(size % 512));
    PutU16(file.data() + 4, uint16_t((size + 511) / 512));
    PutU16(file.data() + 8, 4);
    PutU16(file.data() + 10, 0x100);
    PutU16(file.data() + 12, 0x100);
    PutU16(file.data() + 16, 0xFFF0);
    PutU32(file.data() + 0x3C, 0);
    return file;
}

}  // namespace fwpack::test

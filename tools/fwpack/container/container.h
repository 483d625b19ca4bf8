// The places a package's five resources live: a folder of 2000.bin ..
// 2004.bin, a Windows package .exe (PE resources of type "SETUP"), a
// Linux package (the DOS updater followed by the four tagged resources) and
// a UEFI package (the UEFI updater followed by the same four, and by a
// certificate table when signed).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fwpack {

// Raw resource bytes by id (2000..2004), exactly as a reader of the
// container would get them.
using ResourceSet = std::map<uint16_t, std::vector<uint8_t>>;

enum class ContainerKind { ResourcesFolder, WindowsPackage, LinuxPackage, UefiPackage };
const char *ContainerKindName(ContainerKind kind);

// Reads the resources of whatever container path is; false with a one-line
// error when it is none of them or is damaged.
// file, when given, receives the bytes of a package file as they were
// read, for the caller to look at further without reading them again.
bool ReadContainer(const std::string &path, ResourceSet &out, ContainerKind &kind,
                   std::string &error, std::vector<uint8_t> *file = nullptr);

// resources_folder.cpp
bool ReadResourcesFolder(const std::string &dir, ResourceSet &out, std::string &error);
bool WriteResourcesFolder(const std::string &dir, const ResourceSet &set, std::string &error);

// pe_container.cpp: a copy of the stub with the five resources added to its
// resource section, the stub's own resources kept. A stub that already holds
// "SETUP" resources is refused unless replace is set. With a DOS program
// (path not empty) that program goes in front of the PE headers.
bool LooksLikePe(const std::vector<uint8_t> &file);
bool ReadPeResources(const std::vector<uint8_t> &file, ResourceSet &out, std::string &error);
// finish, when given, is the last step on the finished bytes before they are
// written (the signature); when it fails nothing is written.
using PackageFinisher = std::function<bool(std::vector<uint8_t> &, std::string &)>;
bool WritePePackage(const std::string &stubPath, const ResourceSet &set, const std::string &outPath,
                    bool replace, std::string &error, const std::string &dosProgramPath = "",
                    const PackageFinisher &finish = {});
// The Windows program at pePath with the DOS program at dosProgramPath in
// front of its PE headers, written to outPath (which may be pePath): how the
// build gives updater.exe its DOS stub.
bool WriteDualModeProgram(const std::string &pePath, const std::string &dosProgramPath,
                          const std::string &outPath, std::string &error);
// One line about the DOS program in front of the PE file at path (its size,
// memory and entry); false with the problem when its header does not fit.
bool DescribeDosProgram(const std::string &path, std::string &line, std::string &error);
bool DescribeDosProgram(const std::vector<uint8_t> &file, std::string &line, std::string &error);
// Whether the PE file at path has a DOS program of its own in front of its
// headers, rather than a linker's stub (which declares more bytes than it
// has, so DOS loads the PE headers with it). False when it cannot be read.
bool CarriesDosProgram(const std::string &path);

// run_container.cpp: the DOS updater binary followed by the tagged
// resources 2000, 2002, 2003 and 2004, made executable.
bool LooksLikeRunPackage(const std::vector<uint8_t> &file);
bool ReadRunPackage(const std::vector<uint8_t> &file, ResourceSet &out, std::string &error);
bool WriteRunPackage(const std::string &dosStubPath, const ResourceSet &set,
                     const std::string &outPath, std::string &error);
// What a Linux package and a UEFI package share: the program's bytes padded
// to 16, then the tagged resources 2000, 2002, 2003 and 2004, each padded
// to 16, then zeros enough for the updater's scan to reach the last one.
// program names the program in error lines ("DOS stub x"); a program that
// already holds a tag is refused.
bool AppendTaggedResources(std::vector<uint8_t> &program, const std::string &programName,
                           const ResourceSet &set, std::string &error);

// efi_container.cpp: the UEFI updater, an x86_64 EFI application, followed
// by the tagged resources as a Linux package appends them, then by the
// certificate table when the package is signed (the table must be last).
// Whether file is a PE whose subsystem is the EFI application's.
bool LooksLikeEfiPackage(const std::vector<uint8_t> &file);
// What keeps file from being a UEFI updater the firmware loads and whose
// signature digest the firmware computes as the builder does, as one line,
// or "" when nothing does.
std::string EfiApplicationProblem(const std::vector<uint8_t> &file);
bool ReadEfiPackage(const std::vector<uint8_t> &file, ResourceSet &out, std::string &error);
bool WriteEfiPackage(const std::string &efiStubPath, const ResourceSet &set,
                     const std::string &outPath, std::string &error,
                     const PackageFinisher &finish = {});
// The problems of a UEFI package file that the payload's checks cannot
// see, one line each: the EFI application, the certificate table's place
// and what the updater's scan of the whole file would find.
std::vector<std::string> EfiPackageProblems(const std::vector<uint8_t> &file);

// The tagged resources 2000, 2002, 2003 and 2004 as the DOS updater's scan
// of its own file finds them (the first of each tag, from byte 0, a
// package's body skipped); false when it would not find all four.
bool ScanTaggedResources(const std::vector<uint8_t> &file, ResourceSet &out, std::string &error);
// The same scan over the first size bytes of file only.
bool ScanTaggedResources(const std::vector<uint8_t> &file, size_t size, ResourceSet &out,
                         std::string &error);
// Whether that scan of file finds exactly set's tagged resources; error is
// the one line that says it would not. Every dual-mode package and every
// Linux package must pass it.
bool ScanFindsResources(const std::vector<uint8_t> &file, const ResourceSet &set, std::string &error);
// The problems of a Windows package file that the payload's checks cannot
// see, one line each: its PE layout, its DOS program, and what the DOS
// updater's scan of the file would find.
std::vector<std::string> WindowsPackageProblems(const std::vector<uint8_t> &file);

}  // namespace fwpack

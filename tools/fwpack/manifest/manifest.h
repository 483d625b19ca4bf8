// The package manifest (TOML): run options, the tool folders and the two
// images. Paths in it are relative to the manifest's own folder.
#pragma once
#include <cstdint>
#include <string>

namespace fwpack {

struct Manifest {
    std::string Path;      // the manifest file as given
    uint32_t Flags = 0;    // [options] flags
    std::string IdString;  // [options] id_string

    std::string WindowsTools;    // [windows] tools, resolved
    std::string FlashProgram;    // [windows] flash_program, "" = unpack only
    std::string MeFlashProgram;  // [windows] me_flash_program, "" = no ME stage

    bool HasDos = false;  // [dos] present
    std::string DosTools, DosFlashProgram, DosMeQueryTool, DosMeUpdateTool;

    // [uefi]: the same three tools for the UEFI package, which carries them
    // where the others carry [dos]'s.
    bool HasUefi = false;
    std::string UefiTools, UefiFlashProgram, UefiMeQueryTool, UefiMeUpdateTool;

    std::string BiosImage;  // [bios] image, resolved
    std::string MeImage;    // [me] image, resolved

    // [signing] (optional): the signer for a Windows package, resolved.
    std::string SignCert, SignKey, SignPkcs12, TimestampUrl;
    std::string SignPkcs11, SignPkcs11Module;   // a key on a PKCS#11 token and its module
};

// Reads and checks the manifest's shape: known sections and keys, types,
// required keys, bare program names, flag names, the IdString's length.
// Whether the files exist is checked when the package is built. On failure
// error is one line naming the file, the key and the problem.
bool LoadManifest(const std::string &path, Manifest &out, std::string &error);

}  // namespace fwpack

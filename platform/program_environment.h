// What start-up needs of the process itself: its file, its command line,
// its module handle, the single-instance mutex and the private-profile write.
#pragma once
#include <string>
#include <string_view>

namespace fwpack {

class ProgramEnvironment {
  public:
    virtual ~ProgramEnvironment() = default;

    // Full path of the program file (GetModuleFileNameA), uncut. Callers cut
    // it to their own buffer sizes.
    virtual std::string ModuleFileName() = 0;
    // The whole command line, program name included (GetCommandLineA).
    virtual std::string CommandLine() = 0;
    // Whether the program's own module handle can be had (GetModuleHandleA).
    virtual bool HaveInstanceHandle() = 0;
    // Creates the named mutex, unowned, default security (CreateMutexA); the
    // handle stays open for the life of the process. True only when the
    // system reports that it existed already (ERROR_ALREADY_EXISTS); a
    // failure to create it for any other reason gives false.
    virtual bool MutexAlreadyExists(std::string_view name) = 0;
    // Writes one key of one section of an INI file, creating the file
    // (WritePrivateProfileStringA). False on failure.
    virtual bool WritePrivateProfile(std::string_view path, std::string_view section,
                                    std::string_view key, std::string_view value) = 0;
};

}  // namespace fwpack

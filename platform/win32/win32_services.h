// The smaller parts of the seam on Windows: the program's own resources,
// message boxes, processes, the flash programs' result values, restart,
// the clock and the program's environment.
#pragma once
#include <windows.h>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/processes.h"
#include "platform/program_environment.h"
#include "platform/resources.h"
#include "platform/restart.h"
#include "platform/result_values.h"

namespace fwpack {

// Resources of type "SETUP" in one module (FindResourceA, SizeofResource,
// LoadResource, LockResource). Loaded resources stay mapped with the module.
class Win32Resources : public ResourceSource {
  public:
    // type: the resource type the payload is stored under, a NUL-ended name
    // that outlives this object.
    Win32Resources(HMODULE module, const char *type) : module_(module), type_(type) {}
    std::span<const uint8_t> SetupResource(uint16_t id) const override;

  private:
    HMODULE module_;
    const char *type_;
};

class Win32MessageBoxes : public MessageBoxes {
  public:
    BoxButton Show(std::string_view text, std::string_view caption, BoxIcon icon,
                   BoxButtons buttons) override;
};

class Win32Processes : public Processes {
  public:
    std::optional<StartedProcess> Start(std::string_view application, std::string_view commandLine,
                                        std::string_view folder) override;
    uint32_t Wait(const StartedProcess &process) override;
    std::optional<uint32_t> ExitCode(const StartedProcess &process) override;
    void Close(const StartedProcess &process) override;
};

class Win32ResultValues : public ResultValues {
  public:
    std::optional<int32_t> ReadUserValue(std::string_view subkey, std::string_view value) override;
};

class Win32Restart : public SystemRestart {
  public:
    bool RestartSystem() override;
};

class Win32Clock : public Clock {
  public:
    uint32_t TickCount() override { return GetTickCount(); }
    void Sleep(uint32_t ms) override { ::Sleep(ms); }
};

class Win32ProgramEnvironment : public ProgramEnvironment {
  public:
    std::string ModuleFileName() override;
    std::string CommandLine() override;
    bool HaveInstanceHandle() override;
    bool MutexAlreadyExists(std::string_view name) override;
    bool WritePrivateProfile(std::string_view path, std::string_view section, std::string_view key,
                            std::string_view value) override;
};

}  // namespace fwpack

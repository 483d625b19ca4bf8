// A shared library loaded at run time (a token's PKCS#11 module: a .so on
// Linux, a DLL on Windows), and the system's default PKCS#11 module.
#pragma once
#include <memory>
#include <string>

namespace fwpack {

class SharedModule {
public:
    virtual ~SharedModule() = default;
    // The address of the exported function name; null when it has none.
    virtual void *Function(const char *name) = 0;
};

// Loads the module at path (UTF-8); null with the system's reason in error
// when it cannot be loaded.
std::unique_ptr<SharedModule> LoadSharedModule(const std::string &path, std::string &error);

// The PKCS#11 module that stands for all the system's tokens where the
// system has one installed; "" where it has none.
std::string DefaultPkcs11Module();

}  // namespace fwpack

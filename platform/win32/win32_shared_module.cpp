#include <windows.h>

#include <iterator>

#include "platform/shared_module.h"
#include "platform/win32/win32_utf8.h"

namespace fwpack {
namespace {

class Win32SharedModule : public SharedModule {
public:
    explicit Win32SharedModule(HMODULE module) : module_(module) {}
    ~Win32SharedModule() override { FreeLibrary(module_); }
    void *Function(const char *name) override {
        return reinterpret_cast<void *>(GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};

}  // namespace

std::unique_ptr<SharedModule> LoadSharedModule(const std::string &path, std::string &error) {
    // The search flags below take only a full path.
    const std::wstring given = Wide(path);
    wchar_t full[MAX_PATH * 4];
    const DWORD n = given.empty() ? 0 : GetFullPathNameW(given.c_str(), DWORD(std::size(full)), full, nullptr);
    const std::wstring wide = n > 0 && n < std::size(full) ? std::wstring(full, n) : std::wstring();
    // The DLL's own folder first for the DLLs it needs, never the working
    // folder: a token vendor's module is installed with its helpers.
    HMODULE module = wide.empty() ? nullptr
                                  : LoadLibraryExW(wide.c_str(), nullptr,
                                                   LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                                                       LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!module) {
        error = wide.empty() ? "not a path Windows can take" : ErrorText(GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32SharedModule>(module);
}

// Windows has no system-wide PKCS#11 module: each token vendor ships its own.
std::string DefaultPkcs11Module() { return {}; }

}  // namespace fwpack

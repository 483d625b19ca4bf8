#include <dlfcn.h>
#include <unistd.h>

#include "platform/shared_module.h"

namespace fwpack {
namespace {

class PosixSharedModule : public SharedModule {
public:
    explicit PosixSharedModule(void *handle) : handle_(handle) {}
    ~PosixSharedModule() override { dlclose(handle_); }
    void *Function(const char *name) override { return dlsym(handle_, name); }

private:
    void *handle_;
};

}  // namespace

std::unique_ptr<SharedModule> LoadSharedModule(const std::string &path, std::string &error) {
    // A name without a slash would be searched on the library path; the
    // module is always the file named.
    const std::string named = path.find('/') == std::string::npos ? "./" + path : path;
    void *handle = dlopen(named.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *reason = dlerror();
        error = reason ? reason : "cannot load it";
        return nullptr;
    }
    return std::make_unique<PosixSharedModule>(handle);
}

std::string DefaultPkcs11Module() {
    // p11-kit's proxy: every module the system has registered, as one.
    for (const char *p : {"/usr/lib/x86_64-linux-gnu/p11-kit-proxy.so", "/usr/lib64/p11-kit-proxy.so",
                          "/usr/lib/p11-kit-proxy.so"})
        if (access(p, R_OK) == 0) return p;
    return {};
}

}  // namespace fwpack

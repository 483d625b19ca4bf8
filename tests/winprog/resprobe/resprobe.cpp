// Prints what the resource loader finds, one line per resource:
//   TYPE NAME size=N fnv=XXXXXXXX en-us=yes|no     or     TYPE NAME missing
// Usage: resprobe [--module FILE] [TYPE:NAME ...]
// TYPE and NAME are numbers or names; without a list it probes the five
// "SETUP" resources and the program's own dialog, icons, version and
// manifest. --module loads FILE as a data file instead of probing itself.
// Exit status: 0 all found, 1 some missing, 2 bad usage or no module.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Turns "2000" into MAKEINTRESOURCE(2000) and anything else into itself.
LPCSTR ResourceName(const std::string &text) {
    char *end = nullptr;
    unsigned long n = std::strtoul(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0' && n <= 0xffff) return MAKEINTRESOURCEA(n);
    return text.c_str();
}

unsigned Fnv1a(const unsigned char *data, DWORD size) {
    unsigned h = 2166136261u;
    for (DWORD i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
}

bool Probe(HMODULE module, const std::string &type, const std::string &name) {
    HRSRC found = FindResourceA(module, ResourceName(name), ResourceName(type));
    if (!found) {
        std::printf("%s %s missing\n", type.c_str(), name.c_str());
        return false;
    }
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const unsigned char *bytes = loaded ? static_cast<const unsigned char *>(LockResource(loaded)) : nullptr;
    if (!bytes && size != 0) {
        std::printf("%s %s unreadable\n", type.c_str(), name.c_str());
        return false;
    }
    bool english = FindResourceExA(module, ResourceName(type), ResourceName(name),
                                   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) != nullptr;
    std::printf("%s %s size=%lu fnv=%08X en-us=%s\n", type.c_str(), name.c_str(), (unsigned long)size,
                bytes ? Fnv1a(bytes, size) : Fnv1a(nullptr, 0), english ? "yes" : "no");
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    HMODULE module = nullptr;
    std::vector<std::pair<std::string, std::string>> wanted;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--module" && i + 1 < argc) {
            module = LoadLibraryExA(argv[++i], nullptr, LOAD_LIBRARY_AS_DATAFILE);
            if (!module) {
                std::printf("cannot load %s (error %lu)\n", argv[i], (unsigned long)GetLastError());
                return 2;
            }
            continue;
        }
        size_t colon = arg.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == arg.size()) {
            std::printf("usage: resprobe [--module FILE] [TYPE:NAME ...]\n");
            return 2;
        }
        wanted.emplace_back(arg.substr(0, colon), arg.substr(colon + 1));
    }
    if (wanted.empty()) {
        for (int id = 2000; id <= 2004; ++id) wanted.emplace_back("SETUP", std::to_string(id));
        wanted.insert(wanted.end(), {{"5", "102"}, {"14", "128"}, {"14", "131"}, {"14", "132"},
                                     {"16", "1"}, {"24", "1"}});
    }
    bool all = true;
    for (auto &[type, name] : wanted) all = Probe(module, type, name) && all;
    std::fflush(stdout);
    return all ? 0 : 1;
}

// flashstub: a stand-in for the BIOS and ME flash programs of a package.
//
// It records what it was given (its command line, working folder, own path,
// and the size and byte sum of the image named by its first argument) as one
// JSON line, writes the verdicts it is told to under HKCU "Software\RIVIREVOV",
// optionally sleeps, and exits. One exe serves both stages: the package names
// it differently (flash.exe, meflash.exe), and its settings are looked up in
// the section named after its own file name.
//
// Settings: an INI file named by FLASHSTUB_CONFIG, else flashstub.ini next to
// the program. Section [<file name>] (e.g. [flash.exe]), falling back to
// [default]; keys RtnStatus, RtnReboot, MERtnStatus, MERtnReboot (each written
// as a REG_DWORD only when present), SleepMs, ExitCode.
// Record: appended to FLASHSTUB_LOG, else flashstub.log next to the program.
#include <windows.h>

#include "json_line.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using winprog::Json;
using winprog::JsonObject;


std::string Env(const char* name) {
  char buf[MAX_PATH * 2] = {};
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf) : std::string();
}

std::string ModulePath() {
  char buf[MAX_PATH * 2] = {};
  GetModuleFileNameA(nullptr, buf, sizeof buf);
  return buf;
}

std::string Folder(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The first argument after the program name, as the runtime splits it: the
// flash stages pass the image path unquoted, so it ends at the first space.
std::string FirstArgument() {
  return __argc > 1 ? std::string(__argv[1]) : std::string();
}

// Whether key exists in section (or in [default]); its text in *value.
bool Setting(const std::string& ini, const std::string& section, const char* key, std::string* value) {
  for (const std::string& s : {section, std::string("default")}) {
    char buf[64] = {};
    GetPrivateProfileStringA(s.c_str(), key, "\x01", buf, sizeof buf, ini.c_str());
    if (std::string(buf) != "\x01") {
      *value = buf;
      return true;
    }
  }
  return false;
}

struct ImageFacts {
  bool exists = false;
  unsigned long long size = 0;
  unsigned long sum16 = 0;
};

ImageFacts ReadImage(const std::string& path) {
  ImageFacts f;
  if (path.empty()) return f;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return f;
  f.exists = true;
  unsigned char buf[65536];
  size_t n;
  unsigned long sum = 0;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
    f.size += n;
    for (size_t i = 0; i < n; ++i) sum += buf[i];
  }
  std::fclose(in);
  f.sum16 = sum & 0xFFFF;
  return f;
}

}  // namespace

int main() {
  const DWORD startedAt = GetTickCount();
  const std::string self = ModulePath();
  const std::string name = BaseName(self);
  std::string ini = Env("FLASHSTUB_CONFIG");
  if (ini.empty()) ini = Folder(self) + "flashstub.ini";
  std::string log = Env("FLASHSTUB_LOG");
  if (log.empty()) log = Folder(self) + "flashstub.log";

  JsonObject written;
  HKEY key = nullptr;
  bool keyOpen = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\RIVIREVOV", 0, nullptr, 0, KEY_SET_VALUE,
                                 nullptr, &key, nullptr) == ERROR_SUCCESS;
  for (const char* value : {"RtnStatus", "RtnReboot", "MERtnStatus", "MERtnReboot"}) {
    std::string text;
    if (!Setting(ini, name, value, &text)) continue;
    DWORD v = static_cast<DWORD>(std::strtol(text.c_str(), nullptr, 0));
    bool ok = keyOpen && RegSetValueExA(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) ==
                             ERROR_SUCCESS;
    written.Raw(value, ok ? std::to_string(static_cast<long>(v)) : std::string("null"));
  }
  if (keyOpen) RegCloseKey(key);

  std::string text;
  unsigned long sleepMs = Setting(ini, name, "SleepMs", &text) ? std::strtoul(text.c_str(), nullptr, 0) : 0;
  int exitCode = Setting(ini, name, "ExitCode", &text) ? std::atoi(text.c_str()) : 0;

  char cwd[MAX_PATH * 2] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);
  const std::string image = FirstArgument();
  ImageFacts facts = ReadImage(image);

  JsonObject line;
  line.Str("program", name).Str("module", self).Str("cmdline", GetCommandLineA()).Str("cwd", cwd);
  line.Num("pid", GetCurrentProcessId()).Num("tick", startedAt).Str("image", image).Bool("image_exists", facts.exists);
  line.Num("image_size", static_cast<long long>(facts.size)).Num("image_sum16", facts.sum16);
  line.Raw("wrote", written.Line()).Num("sleep_ms", sleepMs);
  if (FILE* f = std::fopen(log.c_str(), "ab")) {
    std::fprintf(f, "%s\n", line.Line().c_str());
    std::fclose(f);
  }
  if (sleepMs) Sleep(sleepMs);
  return exitCode;
}

#include "support/update_fakes.h"

#include <filesystem>
#include <stdexcept>
#include <unistd.h>

#include "payload/option_block.h"
#include "payload/tagged_resource.h"
#include "update/extract_worker.h"
#include "update/flash_stage.h"

namespace fwpack::test {

std::span<const uint8_t> FakeResources::SetupResource(uint16_t id) const {
    auto it = res.find(id);
    if (it == res.end()) return {};
    return it->second;
}

void RecordingDialog::Add(std::string e) {
    events.push_back(e);
    if (onEvent) onEvent(events.back());
}
void RecordingDialog::EnableControl(int id, bool enable) {
    Add("enable " + std::to_string(id) + (enable ? " 1" : " 0"));
}
void RecordingDialog::HideControl(int id) { Add("hide " + std::to_string(id)); }
void RecordingDialog::SetControlText(int id, std::string_view text) {
    Add("text " + std::to_string(id) + " " + std::string(text));
}
void RecordingDialog::SetProgressRange(uint16_t minimum, uint16_t maximum) {
    Add("range " + std::to_string(minimum) + " " + std::to_string(maximum));
}
void RecordingDialog::SetProgressPosition(int position) { Add("pos " + std::to_string(position)); }
void RecordingDialog::RepaintControl(int id) { Add("paint " + std::to_string(id)); }
void RecordingDialog::RepaintWindow() { Add("paint window"); }
void RecordingDialog::HideWindow() { Add("hide window"); }
void RecordingDialog::PostQuit(int code) { Add("quit " + std::to_string(code)); }
std::vector<std::string> RecordingDialog::TextsOf(int id) const {
    std::string head = "text " + std::to_string(id) + " ";
    std::vector<std::string> out;
    for (const auto &e : events)
        if (e.rfind(head, 0) == 0) out.push_back(e.substr(head.size()));
    return out;
}

BoxButton ScriptedBoxes::Show(std::string_view text, std::string_view caption, BoxIcon icon,
                              BoxButtons buttons) {
    shown.push_back({std::string(text), std::string(caption), icon, buttons});
    if (onShow) onShow(shown.back());
    if (!answers.empty()) {
        BoxButton b = answers.front();
        answers.pop_front();
        return b;
    }
    return buttons == BoxButtons::YesNo ? BoxButton::No : BoxButton::Ok;
}
std::vector<std::string> ScriptedBoxes::Texts() const {
    std::vector<std::string> out;
    for (const auto &b : shown) out.push_back(b.text);
    return out;
}

std::optional<StartedProcess> FakeProcesses::Start(std::string_view application,
                                                   std::string_view commandLine,
                                                   std::string_view folder) {
    starts.push_back({std::string(application), std::string(commandLine), std::string(folder)});
    if (failStart || (!failStartOf.empty() && application.ends_with(failStartOf)))
        return std::nullopt;
    if (onStart) onStart(starts.back());
    return StartedProcess{starts.size(), 100 + starts.size()};
}
uint32_t FakeProcesses::Wait(const StartedProcess &) {
    ++waits;
    if (onWait) onWait();
    return waitResult;
}
void FakeProcesses::Close(const StartedProcess &) { ++closes; }

std::optional<int32_t> FakeResultValues::ReadUserValue(std::string_view subkey,
                                                       std::string_view value) {
    std::string key = std::string(subkey) + "|" + std::string(value);
    reads.push_back(key);
    auto it = values.find(key);
    if (it == values.end()) return std::nullopt;
    return it->second;
}
void FakeResultValues::Set(const std::string &value, int32_t v) {
    values[std::string(kResultKey) + "|" + value] = v;
}

std::string RecordingFiles::TempRoot() {
    if (Fails("temproot", "")) return {};
    return PosixFileSystem::TempRoot();
}
std::optional<std::string> RecordingFiles::TempFileName(std::string_view folder,
                                                        std::string_view prefix, uint32_t unique) {
    if (Fails("tempname", folder)) return std::nullopt;
    return PosixFileSystem::TempFileName(folder, prefix, unique);
}
std::optional<size_t> RecordingFiles::WriteWholeFile(std::string_view path,
                                                     std::span<const uint8_t> bytes,
                                                     const FileTimes *times) {
    if (Fails("write", path)) return std::nullopt;
    return PosixFileSystem::WriteWholeFile(path, bytes, times);
}
bool RecordingFiles::ReadWholeFile(std::string_view path, std::vector<uint8_t> &out) {
    if (Fails("read", path)) return false;
    return PosixFileSystem::ReadWholeFile(path, out);
}
bool RecordingFiles::CopyFileOver(std::string_view from, std::string_view to) {
    log.push_back("copy " + std::string(from) + " " + std::string(to));
    if (Fails("copy", to)) return false;
    return PosixFileSystem::CopyFileOver(from, to);
}
bool RecordingFiles::RemoveFile(std::string_view path) {
    log.push_back("remove " + std::string(path));
    return PosixFileSystem::RemoveFile(path);
}
bool RecordingFiles::DeleteTree(std::string_view path) {
    log.push_back("tree " + std::string(path));
    return PosixFileSystem::DeleteTree(path);
}
bool RecordingFiles::SetWorkingDirectory(std::string_view path) {
    log.push_back("cwd " + std::string(path));
    return PosixFileSystem::SetWorkingDirectory(path);
}
std::optional<std::string> RecordingFiles::WorkingDirectory() {
    if (Fails("getcwd", "")) return std::nullopt;
    return PosixFileSystem::WorkingDirectory();
}
std::vector<std::string> RecordingFiles::Removed() const {
    std::vector<std::string> out;
    for (const auto &l : log)
        if (l.rfind("remove ", 0) == 0) out.push_back(l.substr(7));
    return out;
}

PackageFile Tool(const std::string &name, size_t size, uint32_t seed) {
    PackageFile f;
    f.Record.FileName = name;
    // 2001-02-03 and later, distinct per time.
    f.Record.CreationTime = 126000000000000000ULL + seed * 10000000ULL;
    f.Record.LastAccessTime = 126100000000000000ULL + seed * 10000000ULL;
    f.Record.LastWriteTime = 126200000000000000ULL + seed * 10000000ULL;
    f.Bytes = SampleBytes(size, seed);
    return f;
}

std::vector<uint8_t> ImageResource(uint16_t id, const std::vector<uint8_t> &image,
                                   const std::string &name) {
    PackageFile f;
    f.Record.FileName = name;
    f.Bytes = image;
    std::vector<uint8_t> body = BuildFilePackage({f});
    if (id == MePackage) body = Deflate(body);
    return MakeTaggedResource(id, body);
}

UpdateRig::UpdateRig()
    : tempRoot(dir.path() + "/tmp/"),
      dest(dir.path() + "/dest/"),
      files(tempRoot),
      context{files, resources, dialog, boxes, programs, results, restart, clock, run} {
    std::filesystem::create_directory(tempRoot);
    startDir = std::filesystem::current_path().string();
    run.DestinationFolder = dest;
    run.WindowTitle = "Update Title";
}

UpdateRig::~UpdateRig() { std::filesystem::current_path(startDir); }

void UpdateRig::SetTools(const std::vector<PackageFile> &tools) {
    SetRawToolPackage(BuildFilePackage(tools));
}
void UpdateRig::SetRawToolPackage(const std::vector<uint8_t> &package) {
    resources.res[ToolPackage] = Deflate(package);
}

void UpdateRig::SetOptions(const OptionBlock &block) {
    std::vector<uint8_t> bytes;
    if (!SerializeOptionBlock(block, bytes)) throw std::runtime_error("option block");
    std::copy(bytes.begin(), bytes.begin() + kProgramOptionSize, run.OptionCopy.Bytes.begin());
    run.Options.OptionWord = block.Flags;
}

int UpdateRig::RunWorker() { return ExtractWorker(context); }

void UpdateRig::StartLog() { run.Log.Start(logFile, "run.log"); }

std::vector<std::string> UpdateRig::TempRootEntries() const {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(tempRoot))
        out.push_back(e.path().filename().string());
    return out;
}

}  // namespace fwpack::test

#include "tools/fwpack/inspect/inspect_format.h"

#include <cstdio>
#include <sstream>

#include "tools/fwpack/inspect/file_times.h"
#include "tools/fwpack/manifest/flag_names.h"
#include "payload/tagged_resource.h"
#include "tools/fwpack/inspect/payload_check.h"
#include "tools/fwpack/manifest/printable_text.h"

namespace fwpack {
namespace {

std::string Q(std::string_view s) { return Quoted(s); }

// The tagged header's lines; false when it is cut short and nothing more
// can be shown.
bool TextHeader(std::ostream &s, const ResourceReport &r) {
    if (r.Tagged) {
        if (!r.HeaderComplete) {
            s << "  header        incomplete: " << r.Size << " of 16 bytes\n";
            return false;
        }
        s << "  tag           " << Q(r.Tag)
          << (r.Tag == r.ExpectedTag ? "" : "  WRONG, expected " + Q(r.ExpectedTag)) << "\n";
        s << "  BodyLength    " << r.BodyLength << " (" << r.RealBodyLength << " bytes follow"
          << (r.BodyLength == r.RealBodyLength ? ")" : ", MISMATCH)") << "\n";
    } else {
        s << "  header        none (the stream fills the resource)\n";
    }
    return true;
}

void TextStream(std::ostream &s, const ResourceReport &r) {
    if (!r.Stream.Present) {
        s << "  zlib          no stream\n";
    } else {
        s << "  zlib header   " << Hex(r.Stream.Cmf, 2) << " " << Hex(r.Stream.Flg, 2);
        if (r.Stream.Valid)
            s << ": window " << r.Stream.WindowSize << " bytes, level hint " << r.Stream.Level
              << (r.Stream.WindowSize > kPayloadWindowSize ? "  WINDOW TOO LARGE" : "");
        else
            s << ": not a zlib header";
        s << "\n";
    }
    if (r.Inflated)
        s << "  uncompressed  " << r.PackageSize << " bytes\n";
    else
        s << "  uncompressed  FAILED: " << r.InflateError << "\n";
}

void TextPackage(std::ostream &s, const ResourceReport &r) {
    s << "  files         " << r.Count;
    if (r.Error != PackageError::None) s << "  BROKEN: " << PackageErrorText(r.Error);
    s << "\n";
    for (const RecordReport &rec : r.Records) {
        const FileRecord &f = rec.Record;
        s << "  [" << f.Index << "] " << Q(f.FileName) << "  " << f.Size
          << " bytes  checksum stored " << Hex(f.Checksum, 8) << " computed ";
        if (rec.BytesInside)
            s << Hex(rec.Computed, 8) << (f.Checksum == rec.Computed ? " ok" : " MISMATCH");
        else
            s << "- (bytes outside the package)";
        s << "\n      created " << FileTimeIso8601(f.CreationTime) << "  accessed "
          << FileTimeIso8601(f.LastAccessTime) << "  written " << FileTimeIso8601(f.LastWriteTime)
          << "\n";
    }
}

void TextOptions(std::ostream &s, const ResourceReport &r) {
    const OptionBlock &o = r.Options;
    s << "  block         " << r.RealBodyLength << " bytes\n";
    s << "  Flags         " << Hex(o.Flags, 8) << " " << DescribeFlags(o.Flags) << "\n";
    for (const OptionFieldSpec &f : kOptionFields) {
        const std::string *text = OptionText(o, f.Field);
        if (!text) continue;
        std::string name = f.Name;
        s << "  " << name << std::string(name.size() < 16 ? 16 - name.size() : 1, ' ') << Q(*text)
          << "\n";
    }
}

void TextResource(std::ostream &s, const ResourceReport &r) {
    s << r.Id << " " << ResourceName(r.Id);
    if (!r.Present) {
        s << (r.Expected ? ": missing\n" : ": not carried by this container\n");
        return;
    }
    s << " (" << r.Size << " bytes)\n";
    if (!TextHeader(s, r)) return;
    if (r.Compressed) TextStream(s, r);
    if (r.IsPackage && r.PackageRead) TextPackage(s, r);
    if (r.IsOptions) TextOptions(s, r);
}

void JsonHeader(std::ostream &s, const ResourceReport &r) {
    if (r.Tagged) {
        s << ",\n     \"header\": {\"complete\": " << (r.HeaderComplete ? "true" : "false")
          << ", \"tag\": " << JsonString(r.Tag)
          << ", \"expected_tag\": " << JsonString(r.ExpectedTag);
        if (r.HeaderComplete)
            s << ", \"body_length\": " << r.BodyLength
              << ", \"real_body_length\": " << r.RealBodyLength;
        s << "}";
    } else {
        s << ",\n     \"header\": null";
    }
}

void JsonStream(std::ostream &s, const ResourceReport &r) {
    s << ",\n     \"zlib\": {\"header\": ";
    if (r.Stream.Present)
        s << "[" << unsigned(r.Stream.Cmf) << ", " << unsigned(r.Stream.Flg)
          << "], \"valid\": " << (r.Stream.Valid ? "true" : "false")
          << ", \"window_size\": " << r.Stream.WindowSize
          << ", \"level_hint\": " << r.Stream.Level;
    else
        s << "null";
    s << ", \"decompressed\": " << (r.Inflated ? "true" : "false");
    if (r.Inflated)
        s << ", \"uncompressed_size\": " << r.PackageSize;
    else
        s << ", \"error\": " << JsonString(r.InflateError);
    s << "}";
}

void JsonRecord(std::ostream &s, const RecordReport &rec) {
    const FileRecord &f = rec.Record;
    s << "\n       {\"index\": " << f.Index << ", \"file_name\": " << JsonString(f.FileName)
      << ", \"size\": " << f.Size << ", \"checksum\": " << f.Checksum
      << ", \"computed_checksum\": ";
    if (rec.BytesInside)
        s << rec.Computed;
    else
        s << "null";
    s << ", \"creation_time\": " << JsonString(FileTimeIso8601(f.CreationTime))
      << ", \"last_access_time\": " << JsonString(FileTimeIso8601(f.LastAccessTime))
      << ", \"last_write_time\": " << JsonString(FileTimeIso8601(f.LastWriteTime))
      << ", \"filetimes\": [" << f.CreationTime << ", " << f.LastAccessTime << ", "
      << f.LastWriteTime << "], \"reserved\": " << f.Reserved << "}";
}

void JsonPackage(std::ostream &s, const ResourceReport &r) {
    s << ",\n     \"package\": {\"count\": " << r.Count << ", \"error\": "
      << (r.Error == PackageError::None ? "null" : JsonString(PackageErrorText(r.Error)))
      << ", \"records\": [";
    for (size_t i = 0; i < r.Records.size(); ++i) {
        s << (i ? "," : "");
        JsonRecord(s, r.Records[i]);
    }
    s << "]}";
}

void JsonOptions(std::ostream &s, const ResourceReport &r) {
    const OptionBlock &o = r.Options;
    s << ",\n     \"options\": {\"size\": " << r.RealBodyLength << ", \"flags\": " << o.Flags
      << ", \"flag_names\": [";
    bool first = true;
    for (const auto &f : FlagNames()) {
        if (!(o.Flags & f.Bit)) continue;
        s << (first ? "" : ", ") << JsonString(f.Name);
        first = false;
    }
    s << "]";
    for (const OptionFieldSpec &f : kOptionFields)
        if (const std::string *text = OptionText(o, f.Field))
            s << ", " << JsonString(f.Name) << ": " << JsonString(*text);
    s << "}";
}

void JsonResource(std::ostream &s, const ResourceReport &r) {
    s << "    {\"id\": " << r.Id << ", \"name\": " << JsonString(ResourceName(r.Id))
      << ", \"present\": " << (r.Present ? "true" : "false")
      << ", \"expected\": " << (r.Expected ? "true" : "false");
    if (!r.Present) {
        s << "}";
        return;
    }
    s << ", \"size\": " << r.Size;
    JsonHeader(s, r);
    if (r.Compressed) JsonStream(s, r);
    if (r.IsPackage && r.PackageRead) JsonPackage(s, r);
    if (r.IsOptions && r.HeaderComplete) JsonOptions(s, r);
    s << "}";
}

void JsonEscape(std::string &out, uint32_t unit) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(unit));
    out += buf;
}

// A character outside ASCII as \u escapes: one, or a surrogate pair above
// U+FFFF.
void JsonCharacter(std::string &out, uint32_t codePoint) {
    if (codePoint < 0x10000) return JsonEscape(out, codePoint);
    codePoint -= 0x10000;
    JsonEscape(out, 0xD800 + (codePoint >> 10));
    JsonEscape(out, 0xDC00 + (codePoint & 0x3FF));
}

}  // namespace

// Text is read as UTF-8; a byte that begins no well-formed sequence (a
// name a crafted package carries in some 8-bit code page) stands for the
// character of the same number, so every byte still shows.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        uint32_t codePoint = c;
        size_t length = Utf8SequenceAt(text, at, codePoint);
        if (length == 0) {
            codePoint = c;
            length = 1;
        }
        at += length;
        switch (codePoint) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (codePoint < 0x20 || codePoint >= 0x7F) JsonCharacter(out, codePoint);
                else out += char(codePoint);
        }
    }
    return out + "\"";
}

std::string InspectText(const PayloadReport &report, const std::string &path, ContainerKind kind) {
    std::ostringstream s;
    s << ContainerKindName(kind) << " " << path << "\n";
    for (const ResourceReport &r : report.Resources) {
        s << "\n";
        TextResource(s, r);
    }
    std::vector<std::string> problems = PayloadProblems(report);
    s << "\n"
      << (problems.empty() ? "consistent" : std::to_string(problems.size()) + " problem(s):")
      << "\n";
    for (const auto &p : problems) s << "  " << p << "\n";
    return s.str();
}

std::string InspectJson(const PayloadReport &report, const std::string &path, ContainerKind kind,
                        const std::vector<std::string> &extraMembers) {
    std::ostringstream s;
    s << "{\n  \"path\": " << JsonString(path)
      << ",\n  \"container\": " << JsonString(ContainerKindName(kind)) << ",\n  \"resources\": [\n";
    for (size_t i = 0; i < report.Resources.size(); ++i) {
        JsonResource(s, report.Resources[i]);
        s << (i + 1 < report.Resources.size() ? ",\n" : "\n");
    }
    s << "  ],\n  \"problems\": [";
    std::vector<std::string> problems = PayloadProblems(report);
    for (size_t i = 0; i < problems.size(); ++i) s << (i ? ", " : "") << JsonString(problems[i]);
    s << "]";
    for (const std::string &member : extraMembers)
        if (!member.empty()) s << ",\n  " << member;
    s << "\n}\n";
    return s.str();
}

}  // namespace fwpack

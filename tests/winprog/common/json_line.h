// One JSON object per line, the record format of the Windows test programs
// (the box robot and the stand-in flash program); the harness reads it.
#pragma once
#include <cstdio>
#include <string>

namespace winprog {

// s as a JSON string; the bytes are passed on as they stand, only quotes,
// backslashes and control characters are escaped.
inline std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);  // the text is passed on byte for byte
        }
    }
  }
  return out + "\"";
}

// One JSON object on one line, built by appending (no temporaries).
class JsonObject {
 public:
  JsonObject& Raw(const char* key, const std::string& value) {
    s_ += s_.size() > 1 ? "," : "";
    s_ += Json(key);
    s_ += ':';
    s_ += value;
    return *this;
  }
  JsonObject& Str(const char* key, const std::string& value) { return Raw(key, Json(value)); }
  JsonObject& Num(const char* key, long long value) { return Raw(key, std::to_string(value)); }
  JsonObject& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
  bool Empty() const { return s_.size() == 1; }
  std::string Line() const { return s_ + "}"; }

 private:
  std::string s_ = "{";
};

}  // namespace winprog

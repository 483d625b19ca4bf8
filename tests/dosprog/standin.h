// What the stand-in DOS tools share: they append their command line to
// CALLS.LOG and take their orders from environment variables.
#pragma once
#include "platform/dos16/runtime.h"

extern "C" size_t strlen(const char *text);

namespace standin {

inline void AppendText(const char *file, const char *text) {
    using namespace dos16;
    int32_t h = OpenFile(file, OpenMode::ReadWrite);
    if (h < 0)
        h = CreateFile(file);
    if (h < 0)
        return;
    SeekFile(int(h), 0, SeekFrom::End);
    WriteFile(int(h), text, uint16_t(strlen(text)));
    CloseFile(int(h));
}

// "name arg1 arg2...\r\n" appended to CALLS.LOG.
inline void RecordCall(const char *name, int argc, char **argv) {
    char line[200];
    size_t n = dos16::Format(line, sizeof line, "%s", name);
    for (int i = 1; i < argc && n < sizeof line; ++i)
        n += dos16::Format(line + n, sizeof line - n, " %s", argv[i]);
    if (n < sizeof line)
        dos16::Format(line + n, sizeof line - n, "\r\n");
    AppendText("CALLS.LOG", line);
}

// The variable's value, or fallback when it is not set.
inline const char *Order(const char *variable, const char *fallback, char *buffer, size_t size) {
    return dos16::GetEnvironment(variable, buffer, size) >= 0 ? buffer : fallback;
}

inline int Number(const char *text) {
    int n = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        n = n * 10 + (*text - '0');
    return n;
}

}  // namespace standin

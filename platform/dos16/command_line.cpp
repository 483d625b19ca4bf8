#include "platform/dos16/command_line.h"

namespace fwpack {

namespace {

// The word that ends just before end (trailing spaces skipped) within
// [begin, end): its first character; end itself when there is none.
char *LastWord(char *begin, char *&end) {
    while (end > begin && end[-1] == ' ') --end;
    char *word = end;
    while (word > begin && word[-1] != ' ') --word;
    return word;
}

}  // namespace

Dos16Command SplitDos16CommandLine(char *line) {
    Dos16Command command;
    char *p = line;
    while (*p == ' ') ++p;
    if (*p == '\0') return command;
    command.Program = p;
    while (*p && *p != ' ') ++p;
    if (*p) *p++ = '\0';
    while (*p == ' ') ++p;
    command.Arguments = p;
    char *end = p;
    while (*end) ++end;
    char *lastEnd = end;
    char *last = LastWord(p, lastEnd);
    char *arrowEnd = last;
    char *arrow = LastWord(p, arrowEnd);
    *lastEnd = '\0';
    if (last < lastEnd && arrowEnd - arrow == 1 && *arrow == '>') {
        command.Output = last;
        char *argumentsEnd = arrow;
        LastWord(p, argumentsEnd);
        *argumentsEnd = '\0';
    }
    return command;
}

}  // namespace fwpack

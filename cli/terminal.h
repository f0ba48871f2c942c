// Whether a standard stream is a terminal a person watches (progress bars,
// status lines, questions); the console and the arguments in UTF-8.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace corvel::cli {

bool IsTerminal(FILE* stream);

// Once at the start: the console shows the tool's UTF-8 lines as they are.
// Nothing to do where terminals take UTF-8 already.
void PrepareConsole();

// The program's arguments as UTF-8, whatever the system's code page (on
// Windows they are read again from the wide command line).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace corvel::cli

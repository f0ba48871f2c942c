#include <unistd.h>

#include "cli/terminal.h"

namespace corvel::cli {

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

void PrepareConsole() {}

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace corvel::cli

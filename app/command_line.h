// The rules every vorn command line shares: the program's description and
// footer, a word that names no command, empty option values, and standard
// output that must have arrived.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace vorn {

// The command names, in the order --help lists them.
inline constexpr const char* kCommands[] = {"tools", "controls", "render", "show", "demo", "serve"};

// Names the program and its version (--version).
void DescribeProgram(CLI::App& app);
// The program's footer (examples, exit statuses): set after the commands
// are added, so that they keep their own.
const char* ProgramFooter();

// The first word that is neither an option nor an option's value: the
// command asked for, when the parser found none it knows.
std::string FirstWord(int argc, char** argv);

// An option given with an empty value ("--frames ''") would silently mean
// its default; it is refused instead. Empty text: nothing wrong.
std::string EmptyValue(const CLI::App& app);

// What was written to stdout (a listing, say) must have arrived: a full disk
// or a closed pipe turns a success into a failure (status 1), said on stderr.
int StdoutChecked(int status);

}  // namespace vorn

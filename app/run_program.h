// Running an external program (ffmpeg for the demo's videos) without a shell.
#pragma once

#include <string>
#include <vector>

namespace vorn {

// The full path of a program found in PATH, or "".
std::string FindProgram(const std::string& name);

// Runs `argv` (argv[0] a path), waits, and returns its exit status; -1 when
// it could not be started or ended by a signal. Its output goes to ours.
int RunProgram(const std::vector<std::string>& argv);

}  // namespace vorn

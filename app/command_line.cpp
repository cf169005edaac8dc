#include "command_line.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host.h"
#include "value_parse.h"

namespace vorn {

namespace {

// Every example is run by the end-to-end tests.
const char* kFooter = R"(Examples:
  vorn tools
  vorn controls Bleb
  vorn render Bleb --set "Amplitude 1=0@0,2.5@48" --frames 0-48 --out bleb.#.png
  vorn render Bleb --input "Input=plate.%04d.exr" --frames 1001-1010 --out warp.####.exr
  vorn render Bleb --set "Fill Option=Black Edges" --save shot.vcomp --out frame.png
  vorn render --comp shot.vcomp --frame 12 --out frame12.tif
  vorn show shot.vcomp
  vorn demo --out vorn-demo

Exit status: 0 when everything asked for was written; 1 when a frame or file
failed; 2 for a request that cannot be met (nothing is written); 128 + the
signal after SIGINT (130), SIGTERM (143) or SIGHUP (129), with no temporary
file left behind. Plug-ins are looked for in --plugins DIR, else the folders of
VORN_PLUGIN_PATH (colon-separated), else ../lib/vorn beside the binary.)";

}  // namespace

void DescribeProgram(CLI::App& app) {
  app.name("vorn");
  app.set_version_flag("--version", "vorn " VORN_VERSION);
}

const char* ProgramFooter() {
  return kFooter;
}

std::string FirstWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--plugins") {
      ++i;
      continue;
    }
    if (!a.empty() && a[0] == '-') continue;
    return a;
  }
  return {};
}

std::string EmptyValue(const CLI::App& app) {
  std::vector<const CLI::App*> all = {&app};
  for (const CLI::App* sub : app.get_subcommands({})) all.push_back(sub);
  for (const CLI::App* a : all) {
    if (a != &app && !a->parsed()) continue;
    for (const CLI::Option* opt : a->get_options()) {
      if (opt->get_type_size() == 0 || opt->count() == 0) continue;
      for (const std::string& r : opt->results()) {
        if (!Trim(r).empty()) continue;
        const std::string name = opt->get_name(false, true);
        return (name.empty() ? opt->get_name() : name) + ": an empty value is not allowed; give " +
               (opt->get_type_name().empty() ? std::string("a value") : opt->get_type_name()) +
               " or leave the option out";
      }
    }
  }
  return {};
}

int StdoutChecked(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int why = errno;
  if (flushed && !std::ferror(stdout)) return status;
  PrintError(
      std::string("cannot write to standard output: ") +
      (why != 0 ? std::strerror(why) : "the output was cut short (a full disk or a closed pipe)"));
  return status == kExitOk ? kExitFailed : status;
}

}  // namespace vorn

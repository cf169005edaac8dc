// vorn: the command-line host that renders with the image-effect tools.
#include <CLI/CLI.hpp>
#include <cstdlib>

#include "command_line.h"
#include "commands.h"
#include "signals.h"

namespace {

using namespace vorn;

int RunCommand(int argc, char** argv) {
  CLI::App app{"vorn: renders frames with the image-effect tools from the command line."};
  DescribeProgram(app);
  app.require_subcommand(1, 1);
  app.fallthrough();
  std::vector<std::string> pluginDirs;
  bool quiet = false;
  app.add_option("--plugins", pluginDirs,
                 "Folder of plug-in libraries (repeatable); replaces the default search")
      ->type_name("DIR");
  app.add_flag("-q,--quiet", quiet, "No progress and no warnings about plug-ins");
  const Command commands[] = {AddToolsCommand(app), AddControlsCommand(app), AddRenderCommand(app),
                              AddShowCommand(app),  AddDemoCommand(app),     AddServeCommand(app)};
  app.footer(ProgramFooter());

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const std::string word = FirstWord(argc, argv);
    bool known = false;
    for (const char* c : kCommands) known = known || word == c;
    if (e.get_exit_code() != 0 && !word.empty() && !known) {
      std::string list;
      for (const char* c : kCommands) list += (list.empty() ? "" : ", ") + std::string(c);
      PrintError("unknown command \"" + word + "\"; commands: " + list + " (vorn --help)");
      return kExitUsage;
    }
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }
  if (const std::string empty = EmptyValue(app); !empty.empty()) {
    PrintError(empty);
    return kExitUsage;
  }

  InstallInterruptHandlers();
  Host host;
  std::string error;
  const PluginSearch search = PluginFolders(pluginDirs, std::getenv("VORN_PLUGIN_PATH"),
                                            ExecutableDir(), {"../lib/vorn", VORN_PLUGIN_RELDIR});
  if (!host.LoadPlugins(search, quiet, &error)) {
    PrintError(error);
    return kExitUsage;
  }
  for (const Command& command : commands)
    if (command.cli->parsed()) return command.run(host, quiet);
  return kExitUsage;  // the parser requires one command
}

}  // namespace

int main(int argc, char** argv) {
  return StdoutChecked(RunCommand(argc, argv));
}

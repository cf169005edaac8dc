// The options of `vorn serve`, beside the command.
#include <CLI/CLI.hpp>
#include <memory>

#include "commands.h"
#include "serve/server.h"

namespace vorn {

Command AddServeCommand(CLI::App& app) {
  auto options = std::make_shared<ServeOptions>();
  ServeOptions& o = *options;
  CLI::App* cmd = app.add_subcommand(
      "serve", "Show a tool's controls and frames in the browser (local, with a per-run token)");
  cmd->add_option("tool", o.tool, "Tool shown first (display or registry class name)");
  cmd->add_option("--port", o.port, "Port on 127.0.0.1 (default: a free port)")->type_name("N");
  cmd->add_option("--root", o.roots,
                  "A further folder the page may load from and save to (repeatable)")
      ->type_name("DIR");
  cmd->add_option("--input", o.inputs, "Image for an image input, as for render")
      ->type_name("CAPTION=FILE");
  cmd->add_option("--input-colorspace", o.inputColourSpaces,
                  "Colour space of the input files, as for render")
      ->type_name("[CAPTION=]NAME");
  cmd->add_option("--input-layer", o.inputLayers,
                  "Layer of a multi-layer input file, as for render")
      ->type_name("CAPTION=NAME");
  cmd->add_option("--aspect", o.aspect, "Pixel aspect of every input image, as for render")
      ->type_name("A");
  cmd->add_option("--comp", o.comp, "Composition opened first")->type_name("FILE");
  cmd->add_option("--size", o.size, "Size of built-in images (default 1280x720)")->type_name("WxH");
  cmd->add_option("--frames", o.frames, "The timeline (default 0-100)")->type_name("FIRST-LAST");
  cmd->add_option("--web", o.webDir, "Folder of the page's files")->type_name("DIR");
  return {cmd, [options](Host& host, bool quiet) {
            options->quiet = quiet;
            return RunServe(host, *options);
          }};
}

}  // namespace vorn

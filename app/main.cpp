// vorn: the command-line host that renders with the image-effect tools.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "commands.h"
#include "serve/server.h"
#include "signals.h"
#include "value_parse.h"

namespace {

using namespace vorn;

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

const char* kRenderFooter = R"(Values:
  numbers      decimals: 2.5, -0.75, 1e-3
  points       x,y as fractions of the image, y from the top: "XY Center=0.25,0.5"
  combos       item text or index: "Fill Option=Black Edges", "Fill Option=1"
  check boxes  0/1, off/on
  buttons      --set "CAPTION=1" presses the button before the first frame
  keyframes    value@frame joined by commas, linear between keys and held beyond:
               "Amplitude 1=0@0,2.5@48", "XY Center=0.2,0.5@0;0.8,0.5@24"
--set, --preset and --comp apply in command-line order. Combos and buttons
notify the tool as a user's change would; points are set without notifying
it, so points given one after another stay as given. Frames render in
increasing order on one operator; each file is written whole (temporary file,
then rename). A tool whose frames depend on the frames before is run through
every frame from --shot-start (default: the first frame asked for) to the last
one asked for, and only the frames asked for are written, so a frame is the
same whatever else is asked for. On a farm, each task renders --chunk K/N of
the same command line with --skip-existing; a stepped tool's chunk still starts
its shot at the list's first frame. Exit status: 0 when every frame was written,
1 when one failed, 2 when the request cannot be met (nothing is written), 128 +
the signal after SIGINT (130), SIGTERM or SIGHUP (the frame in progress is
discarded).)";

const char* const kCommands[] = {"tools", "controls", "render", "show", "demo", "serve"};

// The first word that is neither an option nor an option's value: the
// command asked for, when CLI11 found none it knows.
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

// An option given with an empty value ("--frames ''") would silently mean
// its default; it is refused instead. Empty text: nothing wrong.
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

// What was written to stdout (a listing, say) must have arrived: a full disk
// or a closed pipe turns a success into a failure (status 1), said on stderr.
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

int RunCommand(int argc, char** argv) {
  CLI::App app{"vorn: renders frames with the image-effect tools from the command line."};
  app.name("vorn");
  app.require_subcommand(1, 1);
  app.fallthrough();
  app.set_version_flag("--version", "vorn " VORN_VERSION);

  std::vector<std::string> pluginDirs;
  bool quiet = false;
  app.add_option("--plugins", pluginDirs,
                 "Folder of plug-in libraries (repeatable); replaces the default search")
      ->type_name("DIR");
  app.add_flag("-q,--quiet", quiet, "No progress and no warnings about plug-ins");

  ToolsOptions tools;
  CLI::App* toolsCmd = app.add_subcommand("tools", "List every registered tool");
  toolsCmd->add_flag("--json", tools.json, "Write the list as JSON");
  toolsCmd
      ->add_option("--tiles", tools.tilesDir, "Write each tool's tile picture as DIR/<class>.png")
      ->type_name("DIR");

  ControlsOptions controls;
  CLI::App* controlsCmd = app.add_subcommand("controls", "List a tool's pages and controls");
  controlsCmd->add_option("tool", controls.tool, "Display name or registry class name")->required();
  controlsCmd->add_flag("--json", controls.json, "Write the list as JSON");

  RenderSettings render;
  std::vector<std::string> sets, presets, comps;
  CLI::App* renderCmd = app.add_subcommand("render", "Render frames with a tool");
  renderCmd->add_option("tool", render.tool,
                        "Display name or registry class name (optional with --comp)");
  renderCmd
      ->add_option("--input", render.inputs,
                   "Image for an image input, by caption; FILE may be a sequence "
                   "(plate.####.exr). Required inputs without one get a built-in image")
      ->type_name("CAPTION=FILE");
  CLI::Option* setOpt =
      renderCmd
          ->add_option("--set", sets,
                       "Control value, by caption: number, x,y, combo item or index, 0/1/on/off; "
                       "keyframes value@frame,value@frame; 1 presses a button")
          ->type_name("CAPTION=VALUE");
  CLI::Option* presetOpt =
      renderCmd->add_option("--preset", presets, "Choose an item of the tool's \"Demos\" presets")
          ->type_name("ITEM");
  CLI::Option* compOpt =
      renderCmd->add_option("--comp", comps, "Load control values from a saved composition")
          ->type_name("FILE");
  CLI::Option* framesOpt =
      renderCmd
          ->add_option("--frames", render.frames,
                       "Frames: 1-100, 1-100x2, 1,5,10-20, -10--1 (default: the frames on disk "
                       "of an input sequence, else 0)")
          ->type_name("LIST");
  renderCmd->add_option("--frame", render.frame, "One frame (default 0)")
      ->type_name("N")
      ->excludes(framesOpt);
  renderCmd
      ->add_option("--size", render.size,
                   "Size of built-in images (default 1280x720, or "
                   "the size of the first image file)")
      ->type_name("WxH");
  renderCmd
      ->add_option("--aspect", render.aspect,
                   "Pixel aspect (height / width of a pixel) of "
                   "every input image (default: the file's, or 1)")
      ->type_name("A");
  renderCmd
      ->add_option("--save", render.save, "Write the composition (the operator's saved record)")
      ->type_name("FILE");
  renderCmd
      ->add_option("--out", render.out,
                   "Output files: # = 4 digits, @ = 1 digit each, %04d; .png, .exr, .tif, .dpx, "
                   ".jpg")
      ->type_name("PATTERN");
  renderCmd
      ->add_option("--workers", render.workers,
                   "Worker count of each render, as NUM_PROC_VORN sets it")
      ->type_name("N");
  renderCmd
      ->add_option("--compression", render.compression,
                   "PNG: level 0-9 (default 6); EXR: none, rle, zips, zip (default), piz; "
                   "TIFF: none, lzw, zip (default); JPEG: quality 1-100 (default 95)")
      ->type_name("C");
  renderCmd
      ->add_option("--bit-depth", render.bitDepth,
                   "Output samples: PNG 8 (default) or 16; TIFF 8 (default), 16 or float; EXR "
                   "half (default) or float; DPX 10 (default), 8 or 16; JPEG 8")
      ->type_name("D");
  renderCmd
      ->add_option("--input-colorspace", render.inputColourSpaces,
                   "Colour space of the input files (default: sRGB for integer files, linear "
                   "for half and float); CAPTION=NAME for one input. Names: the $OCIO "
                   "configuration's, and sRGB, linear, Rec709")
      ->type_name("[CAPTION=]NAME");
  renderCmd
      ->add_option("--output-colorspace", render.outputColourSpace,
                   "Colour space of the output files (default: sRGB for integer files, linear "
                   "for half and float)")
      ->type_name("NAME");
  renderCmd
      ->add_option("--input-layer", render.inputLayers,
                   "Layer of a multi-layer (EXR) input file, by the input's caption")
      ->type_name("CAPTION=NAME");
  renderCmd
      ->add_option("--writers", render.writers,
                   "Threads that encode and write finished frames, 1 to 16 (default: one per "
                   "core, at most 16)")
      ->type_name("N");
  renderCmd
      ->add_option("--shot-start", render.shotStart,
                   "First frame of the shot, for tools whose frames depend on the frames "
                   "before (default: the first frame asked for)")
      ->type_name("N");
  renderCmd
      ->add_option("--chunk", render.chunk,
                   "Render part K of N of the frame list (contiguous parts, the larger first): "
                   "one task of a farm job array")
      ->type_name("K/N");
  renderCmd->add_flag("--skip-existing", render.skipExisting,
                      "Leave frames whose output file is there and reads back whole (a "
                      "requeued task resumes)");
  CLI::Option* listOutputsOpt =
      renderCmd->add_flag("--list-outputs", render.listOutputs,
                          "Check the request and print each frame's output file; render nothing");
  renderCmd
      ->add_flag("--check-outputs", render.checkOutputs,
                 "Print each frame's output file that is missing or not whole; exit 1 if one "
                 "is")
      ->excludes(listOutputsOpt);
  renderCmd->add_flag("--no-write", render.noWrite, "Render every frame but write no image");
  CLI::Option* statsOpt =
      renderCmd->add_flag("--stats", render.stats, "Print timing figures when done");
  renderCmd
      ->add_option("--stats-trace", render.statsTrace,
                   "With --stats: write each chunk's frame, pass, start, end and thread to FILE")
      ->needs(statsOpt);

  ShowOptions show;
  CLI::App* showCmd = app.add_subcommand("show", "Describe a saved composition");
  showCmd->add_option("file", show.file, "Composition file")->required();
  showCmd->add_flag("--json", show.json, "Write the description as JSON");

  DemoOptions demo;
  CLI::App* demoCmd = app.add_subcommand(
      "demo", "Render every tool's presets with built-in images, a contact sheet and videos");
  demoCmd->add_option("--out", demo.outDir, "Folder for the sequences (default vorn-demo)")
      ->type_name("DIR");
  demoCmd->add_option("--size", demo.size, "Frame size (default 640x360)")->type_name("WxH");
  demoCmd->add_option("--length", demo.length, "Frames per sequence, 1 to 10000 (default 24)")
      ->type_name("N");
  demoCmd->add_flag_callback(
      "--no-video", [&demo] { demo.video = false; }, "Make no MP4 files");

  ServeOptions serve;
  CLI::App* serveCmd = app.add_subcommand(
      "serve", "Show a tool's controls and frames in the browser (local, with a per-run token)");
  serveCmd->add_option("tool", serve.tool, "Tool shown first (display or registry class name)");
  serveCmd->add_option("--port", serve.port, "Port on 127.0.0.1 (default: a free port)")
      ->type_name("N");
  serveCmd
      ->add_option("--root", serve.roots,
                   "A further folder the page may load from and save to (repeatable)")
      ->type_name("DIR");
  serveCmd->add_option("--input", serve.inputs, "Image for an image input, as for render")
      ->type_name("CAPTION=FILE");
  serveCmd->add_option("--comp", serve.comp, "Composition opened first")->type_name("FILE");
  serveCmd->add_option("--size", serve.size, "Size of built-in images (default 1280x720)")
      ->type_name("WxH");
  serveCmd->add_option("--frames", serve.frames, "The timeline (default 0-100)")
      ->type_name("FIRST-LAST");
  serveCmd->add_option("--web", serve.webDir, "Folder of the page's files")->type_name("DIR");

  // Set last, so that the subcommands keep their own footers.
  app.footer(kFooter);
  renderCmd->footer(kRenderFooter);

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

  // --set, --preset and --comp apply in command-line order.
  std::map<const CLI::Option*, size_t> used;
  for (const CLI::Option* opt : renderCmd->parse_order()) {
    RenderAction::Kind kind;
    const std::vector<std::string>* values;
    if (opt == setOpt)
      kind = RenderAction::Kind::Set, values = &sets;
    else if (opt == presetOpt)
      kind = RenderAction::Kind::Preset, values = &presets;
    else if (opt == compOpt)
      kind = RenderAction::Kind::Comp, values = &comps;
    else
      continue;
    const size_t i = used[opt]++;
    if (i < values->size()) render.actions.push_back({kind, (*values)[i]});
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

  if (*toolsCmd) return RunTools(host, tools);
  if (*controlsCmd) return RunControls(host, controls);
  if (*showCmd) return RunShow(host, show);
  if (*serveCmd) {
    serve.quiet = quiet;
    return RunServe(host, serve);
  }
  if (*demoCmd) {
    demo.quiet = quiet;
    return RunDemo(host, demo);
  }
  render.quiet = quiet;
  return RunRender(host, render).exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  return StdoutChecked(RunCommand(argc, argv));
}

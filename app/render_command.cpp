// The options of `vorn render`, beside the command.
#include <CLI/CLI.hpp>
#include <map>
#include <memory>

#include "commands.h"
#include "image_formats.h"

namespace vorn {

namespace {

const char* kRenderFooter = R"(Values:
  numbers      decimals: 2.5, -0.75, 1e-3
  points       x,y as fractions of the image, y from the top: "XY Center=0.25,0.5"
  combos       item text or index: "Fill Option=Black Edges", "Fill Option=1"
  check boxes  0/1, off/on
  buttons      "CAPTION=1@20" presses the button at frame 20 ("1@20,1@45" twice);
               "CAPTION=1" before the first frame. --save keeps the presses.
  keyframes    value@frame joined by commas, linear between keys and held beyond:
               "Amplitude 1=0@0,2.5@48", "XY Center=0.2,0.5@0;0.8,0.5@24"
--set, --preset and --comp apply in command-line order. Combos notify the
tool as a user's change would, buttons as their frame renders; points are
set without notifying it, so points given one after another stay as given. Frames render in
increasing order on one operator; each file is written whole (temporary file,
then rename). A tool whose frames depend on the frames before is run through
every frame from --shot-start (default: the first frame of the shot a --comp
was saved for, else the first frame asked for) to the last
one asked for, and only the frames asked for are written, so a frame is the
same whatever else is asked for. On a farm, each task renders --chunk K/N of
the same command line with --skip-existing; a stepped tool's chunk still starts
its shot at the list's first frame. Exit status: 0 when every frame was written,
1 when one failed, 2 when the request cannot be met (nothing is written), 128 +
the signal after SIGINT (130), SIGTERM or SIGHUP (the frame in progress is
discarded).)";

struct RenderCommandLine {
  RenderSettings render;
  std::vector<std::string> sets, presets, comps;
  CLI::Option *setOpt = nullptr, *presetOpt = nullptr, *compOpt = nullptr;
};

// --set, --preset and --comp, in command-line order.
std::vector<RenderAction> Actions(const CLI::App& cmd, const RenderCommandLine& c) {
  std::vector<RenderAction> actions;
  std::map<const CLI::Option*, size_t> used;
  for (const CLI::Option* opt : cmd.parse_order()) {
    RenderAction::Kind kind;
    const std::vector<std::string>* values;
    if (opt == c.setOpt)
      kind = RenderAction::Kind::Set, values = &c.sets;
    else if (opt == c.presetOpt)
      kind = RenderAction::Kind::Preset, values = &c.presets;
    else if (opt == c.compOpt)
      kind = RenderAction::Kind::Comp, values = &c.comps;
    else
      continue;
    const size_t i = used[opt]++;
    if (i < values->size()) actions.push_back({kind, (*values)[i]});
  }
  return actions;
}

}  // namespace

Command AddRenderCommand(CLI::App& app) {
  auto c = std::make_shared<RenderCommandLine>();
  RenderSettings& r = c->render;
  CLI::App* cmd = app.add_subcommand("render", "Render frames with a tool");
  cmd->footer(kRenderFooter);
  cmd->add_option("tool", r.tool, "Display name or registry class name (optional with --comp)");
  cmd->add_option("--input", r.inputs,
                  "Image for an image input, by caption; FILE may be a sequence "
                  "(plate.####.exr). Required inputs without one get a built-in image")
      ->type_name("CAPTION=FILE");
  c->setOpt =
      cmd->add_option("--set", c->sets,
                      "Control value, by caption: number, x,y, combo item or index, "
                      "0/1/on/off; keyframes value@frame,value@frame; 1@frame presses a button")
          ->type_name("CAPTION=VALUE");
  c->presetOpt =
      cmd->add_option("--preset", c->presets, "Choose an item of the tool's \"Demos\" presets")
          ->type_name("ITEM");
  c->compOpt =
      cmd->add_option(
             "--comp", c->comps,
             "Load control values and presses from a saved composition (its shot and image "
             "size are the defaults of --shot-start and --size)")
          ->type_name("FILE");
  CLI::Option* framesOpt =
      cmd->add_option("--frames", r.frames,
                      "Frames: 1-100, 1-100x2, 1,5,10-20, -10--1 (default: the frames on disk "
                      "of an input sequence, else 0)")
          ->type_name("LIST");
  cmd->add_option("--frame", r.frame, "One frame (default 0)")->type_name("N")->excludes(framesOpt);
  cmd->add_option("--size", r.size,
                  "Size of built-in images (default 1280x720, or the size of the first image "
                  "file)")
      ->type_name("WxH");
  cmd->add_option("--aspect", r.aspect,
                  "Pixel aspect (height / width of a pixel) of every input image (default: the "
                  "file's, or 1)")
      ->type_name("A");
  cmd->add_option("--save", r.save,
                  "Write the composition: a flow when FILE ends in .json (NAME.flow.json), "
                  "else the operator's saved record")
      ->type_name("FILE");
  cmd->add_option("--node", r.node,
                  "With --comp FLOW: the node to write to --out (default: the flow's Write "
                  "nodes; --out alone writes the last Write, else the last node)")
      ->type_name("NAME");
  cmd->add_option("--out", r.out,
                  "Output files: # = 4 digits, @ = 1 digit each, %04d; " + OutputExtensionsHelp())
      ->type_name("PATTERN");
  cmd->add_option("--workers", r.workers, "Worker count of each render, as NUM_PROC_VORN sets it")
      ->type_name("N");
  cmd->add_option("--compression", r.compression, CompressionHelp())->type_name("C");
  cmd->add_option("--bit-depth", r.bitDepth, BitDepthHelp())->type_name("D");
  cmd->add_option("--input-colorspace", r.inputColourSpaces,
                  "Colour space of the input files (default: sRGB for integer files, linear "
                  "for half and float); CAPTION=NAME for one input. Names: the $OCIO "
                  "configuration's, and sRGB, linear, Rec709")
      ->type_name("[CAPTION=]NAME");
  cmd->add_option("--output-colorspace", r.outputColourSpace,
                  "Colour space of the output files (default: sRGB for integer files, linear "
                  "for half and float)")
      ->type_name("NAME");
  cmd->add_option("--input-layer", r.inputLayers,
                  "Layer of a multi-layer (EXR) input file, by the input's caption")
      ->type_name("CAPTION=NAME");
  cmd->add_option("--writers", r.writers,
                  "Threads that encode and write finished frames, 1 to 16 (default: one per "
                  "core, at most 16)")
      ->type_name("N");
  cmd->add_option("--shot-start", r.shotStart,
                  "First frame of the shot, for tools whose frames depend on the frames "
                  "before (default: the first frame asked for)")
      ->type_name("N");
  cmd->add_option("--chunk", r.chunk,
                  "Render part K of N of the frame list (contiguous parts, the larger first): "
                  "one task of a farm job array")
      ->type_name("K/N");
  cmd->add_flag("--skip-existing", r.skipExisting,
                "Leave frames whose output file is there and reads back whole (a requeued task "
                "resumes)");
  CLI::Option* listOutputsOpt =
      cmd->add_flag("--list-outputs", r.listOutputs,
                    "Check the request and print each frame's output file; render nothing");
  cmd->add_flag("--check-outputs", r.checkOutputs,
                "Print each frame's output file that is missing or not whole; exit 1 if one is")
      ->excludes(listOutputsOpt);
  cmd->add_flag("--list-frames", r.listFrames,
                "Check the request and print each frame it would deliver; render nothing")
      ->excludes(listOutputsOpt);
  cmd->add_flag("--no-write", r.noWrite, "Render every frame but write no image");
  CLI::Option* statsOpt = cmd->add_flag("--stats", r.stats, "Print timing figures when done");
  cmd->add_option("--stats-trace", r.statsTrace,
                  "With --stats: write each chunk's frame, pass, start, end and thread to FILE")
      ->needs(statsOpt);
  return {cmd, [c, cmd](Host& host, bool quiet) {
            c->render.actions = Actions(*cmd, *c);
            c->render.quiet = quiet;
            return RunRender(host, c->render).exitCode;
          }};
}

}  // namespace vorn

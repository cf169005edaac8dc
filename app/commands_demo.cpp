// vorn demo: a short sequence of every tool's presets with built-in images
// (each "Demos" item, with a preroll where the tool has one; a few lobe
// settings for Bleb), a contact sheet of one frame per sequence and, where
// ffmpeg is installed, an MP4 per sequence.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "atomic_file.h"
#include "commands.h"
#include "contact_sheet.h"
#include "controls_model.h"
#include "image_io.h"
#include "run_program.h"
#include "signals.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

struct Sequence {
  std::string tool;   // registry class name
  std::string label;  // shown on the contact sheet
  std::string slug;   // folder and file names
  std::vector<RenderAction> actions;
};

std::string Slug(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (c >= 'A' && c <= 'Z')
      out += char(c - 'A' + 'a');
    else if (keep)
      out += c;
    else if (!out.empty() && out.back() != '_')
      out += '_';
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out.empty() ? "sequence" : out;
}

RenderAction Set(const std::string& text) {
  return {RenderAction::Kind::Set, text};
}

// Lobe settings that show what the warp does, animated over the sequence.
std::vector<Sequence> BlebSequences(const std::string& className, int length) {
  const std::string end = std::to_string(std::max(1, length - 1));
  std::vector<Sequence> out;
  out.push_back(
      {className,
       "Bleb: three lobes",
       "bleb_three_lobes",
       {Set("Amplitude 1=0@0,0.8@" + end), Set("Amplitude 3=0@0,0.8@" + end),
        Set("Amplitude 5=0@0,0.8@" + end), Set("Sharp 1=3"), Set("Sharp 3=3"), Set("Sharp 5=3")}});
  Sequence spin{className, "Bleb: seven lobes turning", "bleb_seven_lobes_turning", {}};
  for (int i = 1; i <= 7; ++i) {
    spin.actions.push_back(Set("Amplitude " + std::to_string(i) + "=0.35"));
    spin.actions.push_back(Set("Sharp " + std::to_string(i) + "=12"));
  }
  spin.actions.push_back(Set("Rotate=0@0,90@" + end));
  out.push_back(spin);
  out.push_back(
      {className,
       "Bleb: pinch, wrapped",
       "bleb_pinch_wrapped",
       {Set("Fill Option=Wrap Edges"), Set("Scale=1@0,0.45@" + end), Set("Amplitude 2=-0.6"),
        Set("Amplitude 6=-0.6"), Set("Sharp 2=2"), Set("Sharp 6=2")}});
  out.push_back({className,
                 "Bleb: bulge, black edges",
                 "bleb_bulge_black_edges",
                 {Set("Fill Option=Black Edges"), Set("Amplitude 1=2.5"), Set("Sharp 1=1.5"),
                  Set("XY Center=0.5,0.5@0;0.35,0.6@" + end)}});
  return out;
}

std::vector<Sequence> SequencesFor(Host& host, df::Registry* r, int length) {
  std::vector<Sequence> out;
  if (r->ClassName() == "BlebPlugIn") return BlebSequences(r->ClassName(), length);
  std::string error;
  df::OperatorPtr op = host.Doc().CreateOperator(r, &error);
  if (!op) {
    PrintWarning("demo: skipping \"" + r->Name() + "\": " + error);
    return out;
  }
  // A button whose caption says preroll runs the tool forward before frame 0.
  std::string preroll;
  for (df::Input* in : ControlInputs(*op))
    if (in->ControlKind() == kButtonKind &&
        AsciiLower(in->Name()).find("preroll") != std::string::npos)
      preroll = in->Name();
  if (df::Input* demos = FindPresetCombo(*op)) {
    for (const std::string& item : demos->ComboItems()) {
      Sequence s{r->ClassName(),
                 r->Name() + ": " + item,
                 Slug(r->Name() + "_" + item),
                 {{RenderAction::Kind::Preset, item}}};
      if (!preroll.empty()) s.actions.push_back(Set(preroll + "=1"));
      out.push_back(std::move(s));
    }
  }
  if (out.empty()) out.push_back({r->ClassName(), r->Name(), Slug(r->Name()), {}});
  return out;
}

bool MakeVideo(const std::string& ffmpeg, const std::string& pattern, const std::string& path,
               std::string* error) {
  // ffmpeg writes by name, so it writes into a folder only vorn can enter.
  TemporaryFolder folder;
  if (!folder.Create(path, "video.mp4", error)) return false;
  // The frames hold straight alpha: the video shows them over black. They
  // are sRGB-encoded, converted with the BT.709 matrix and tagged so.
  const std::string filter =
      "format=gbrap,premultiply=inplace=1,scale=trunc(iw/2)*2:trunc(ih/2)*2:"
      "out_color_matrix=bt709:out_range=tv";
  const std::vector<std::string> tags = {"-colorspace", "bt709",        "-color_primaries", "bt709",
                                         "-color_trc",  "iec61966-2-1", "-color_range",     "tv"};
  std::vector<std::string> args = {
      ffmpeg, "-nostdin", "-y",    "-loglevel", "error", "-framerate", "24",     "-start_number",
      "0",    "-i",       pattern, "-vf",       filter,  "-pix_fmt",   "yuv420p"};
  args.insert(args.end(), tags.begin(), tags.end());
  args.push_back(folder.FilePath());
  const int status = RunProgram(args);
  if (status != 0) {
    *error = "ffmpeg could not make " + path + (status < 0 ? " (did not run)" : "");
    return false;
  }
  return folder.Commit(error);
}

}  // namespace

int RunDemo(Host& host, const DemoOptions& options) {
  int width = 0, height = 0;
  std::string error;
  if (!ParseSize(options.size, kMaxImageSide, kMaxImagePixels, &width, &height, &error)) {
    PrintError("--size: " + error);
    return kExitUsage;
  }
  auto length = ParseCount(options.length, 1, 10000, &error);
  if (!length) {
    PrintError("--length: " + error);
    return kExitUsage;
  }
  const int frames = int(*length);
  const std::vector<df::Registry*> tools = host.Tools();
  if (tools.empty()) {
    PrintError("demo: no tools found; set VORN_PLUGIN_PATH or give --plugins DIR");
    return kExitUsage;
  }
  std::error_code ec;
  fs::create_directories(options.outDir, ec);
  if (!fs::is_directory(options.outDir, ec)) {
    PrintError("demo: cannot create the folder " + options.outDir);
    return kExitUsage;
  }
  const std::string ffmpeg = options.video ? FindProgram("ffmpeg") : std::string();
  if (options.video && ffmpeg.empty() && !options.quiet)
    PrintWarning("demo: ffmpeg is not installed; no MP4 files");

  std::vector<Sequence> sequences;
  for (df::Registry* r : tools)
    for (Sequence& s : SequencesFor(host, r, frames)) sequences.push_back(std::move(s));

  int status = kExitOk;
  int videos = 0;
  std::vector<SheetEntry> sheet;
  for (const Sequence& seq : sequences) {
    const fs::path dir = fs::path(options.outDir) / seq.slug;
    fs::create_directories(dir, ec);
    RenderSettings rs;
    rs.tool = seq.tool;
    rs.actions = seq.actions;
    rs.frames = "0-" + std::to_string(frames - 1);
    rs.size = options.size;
    rs.out = (dir / (seq.slug + ".#.png")).string();
    rs.quiet = options.quiet;
    if (!options.quiet) std::fprintf(stderr, "%s -> %s\n", seq.label.c_str(), dir.c_str());
    RenderOutcome outcome = RunRender(host, rs);
    if (InterruptSignal() != 0) return InterruptExitCode(InterruptSignal());
    if (outcome.exitCode != kExitOk) {
      PrintError("demo: sequence \"" + seq.label + "\" failed");
      status = kExitFailed;
    }
    SheetEntry entry{seq.label, nullptr};
    if (!outcome.written.empty()) {
      entry.image = ReadImage(outcome.written.back(), &error);
      if (!entry.image) PrintWarning("demo: " + error);
    }
    sheet.push_back(std::move(entry));
    if (!ffmpeg.empty() && outcome.exitCode == kExitOk) {
      const std::string video = (fs::path(options.outDir) / (seq.slug + ".mp4")).string();
      if (MakeVideo(ffmpeg, (dir / (seq.slug + ".%04d.png")).string(), video, &error)) {
        ++videos;
      } else {
        PrintError("demo: " + error);
        status = kExitFailed;
      }
      if (InterruptSignal() != 0) return InterruptExitCode(InterruptSignal());
    }
  }

  ImageRef image = MakeContactSheet("VORN DEMO", sheet, std::min(320, width), 4);
  const std::string sheetPath = (fs::path(options.outDir) / "contact_sheet.png").string();
  if (!image || !WriteImage(*image, sheetPath, ImageFormat::Png, &error)) {
    PrintError("demo: " + (image ? error : std::string("not enough memory for the contact sheet")));
    return kExitFailed;
  }
  if (!options.quiet) {
    const std::string mp4 = videos > 0 ? "; " + std::to_string(videos) + " MP4 files (" +
                                             (fs::path(options.outDir) / "*.mp4").string() + ")"
                                       : std::string();
    std::fprintf(stderr, "%zu sequences in %s; contact sheet %s%s\n", sequences.size(),
                 options.outDir.c_str(), sheetPath.c_str(), mp4.c_str());
  }
  return status;
}

Command AddDemoCommand(CLI::App& app) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* cmd = app.add_subcommand(
      "demo", "Render every tool's presets with built-in images, a contact sheet and videos");
  cmd->add_option("--out", options->outDir, "Folder for the sequences (default vorn-demo)")
      ->type_name("DIR");
  cmd->add_option("--size", options->size, "Frame size (default 640x360)")->type_name("WxH");
  cmd->add_option("--length", options->length, "Frames per sequence, 1 to 10000 (default 24)")
      ->type_name("N");
  cmd->add_flag_callback(
      "--no-video", [options] { options->video = false; }, "Make no MP4 files");
  return {cmd, [options](Host& host, bool quiet) {
            options->quiet = quiet;
            return RunDemo(host, *options);
          }};
}

}  // namespace vorn

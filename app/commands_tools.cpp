// vorn tools: every registered tool with its registration values, and
// optionally each tool's tile picture as a PNG.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "bmp.h"
#include "commands.h"
#include "image_io.h"
#include "json_document.h"

namespace vorn {
namespace {

// Decodes a tool's tile bitmap and writes it as PNG; false with the reason.
bool WriteTile(const df::Registry& r, const std::string& dir, std::string* path,
               std::string* error) {
  const df::Resource* res = r.FindResource(r.TileBitmap());
  if (res == nullptr || res->data == nullptr) {
    *error = "\"" + r.Name() + "\" carries no tile bitmap (resource " +
             std::to_string(r.TileBitmap()) + ")";
    return false;
  }
  Bitmap bitmap;
  if (!DecodeBmp(res->data, res->size, &bitmap, error)) {
    *error = "tile bitmap of \"" + r.Name() + "\": " + *error;
    return false;
  }
  ImageRef image = NewImage(bitmap.width, bitmap.height);
  if (!image) {
    *error = "not enough memory for the tile of \"" + r.Name() + "\"";
    return false;
  }
  for (int y = 0; y < bitmap.height; ++y)
    std::copy_n(bitmap.bgra.data() + size_t(y) * size_t(bitmap.width) * 4, size_t(bitmap.width) * 4,
                image->rows[y]);
  *path = (std::filesystem::path(dir) / (r.ClassName() + ".png")).string();
  return WriteImage(*image, *path, ImageFormat::Png, error);
}

}  // namespace

int RunTools(Host& host, const ToolsOptions& options) {
  const std::vector<df::Registry*> tools = host.Tools();
  if (!options.tilesDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options.tilesDir, ec);
    if (!std::filesystem::is_directory(options.tilesDir, ec)) {
      PrintError("--tiles: cannot create the folder " + options.tilesDir);
      return kExitUsage;
    }
  }
  if (options.json) {
    JsonDoc json = JsonDoc::array();
    for (df::Registry* r : tools)
      json.push_back({{"name", JsonString(r->Name())},
                      {"class", JsonString(r->ClassName())},
                      {"shortName", JsonString(r->ShortName())},
                      {"description", JsonString(r->Description())},
                      {"classId", df::HexText(r->ClassID())},
                      {"toolCode", df::HexText(r->ToolCode())},
                      {"pack", JsonString(r->PackName())},
                      {"helpFile", JsonString(r->HelpFile())},
                      {"library", JsonString(host.LibraryOf(r))}});
    std::fputs(JsonText(json).c_str(), stdout);
  } else {
    bool first = true;
    for (df::Registry* r : tools) {
      if (!first) std::printf("\n");
      first = false;
      std::printf("%s  (%s)\n", r->Name().c_str(), r->ClassName().c_str());
      std::printf("  short name   %s\n", r->ShortName().c_str());
      std::printf("  description  %s\n", r->Description().c_str());
      std::printf("  class id     %s\n", df::HexText(r->ClassID()).c_str());
      std::printf("  tool code    %s\n", df::HexText(r->ToolCode()).c_str());
      std::printf("  pack         %s\n", r->PackName().c_str());
      std::printf("  help file    %s\n", r->HelpFile().c_str());
      std::printf("  library      %s\n", host.LibraryOf(r).c_str());
    }
  }
  if (tools.empty()) {
    std::string where;
    for (const std::string& f : host.Search().folders) where += (where.empty() ? "" : ", ") + f;
    PrintWarning("no tools found (plug-ins from " + (where.empty() ? "no folder" : where) +
                 "; set VORN_PLUGIN_PATH or give --plugins DIR)");
  }
  int status = kExitOk;
  if (!options.tilesDir.empty()) {
    for (df::Registry* r : tools) {
      std::string path, error;
      if (!WriteTile(*r, options.tilesDir, &path, &error)) {
        PrintError(error);
        status = kExitFailed;
      } else {
        std::fprintf(stderr, "wrote %s\n", path.c_str());
      }
    }
  }
  std::fflush(stdout);
  return status;
}

Command AddToolsCommand(CLI::App& app) {
  auto options = std::make_shared<ToolsOptions>();
  CLI::App* cmd = app.add_subcommand("tools", "List every registered tool");
  cmd->add_flag("--json", options->json, "Write the list as JSON");
  cmd->add_option("--tiles", options->tilesDir, "Write each tool's tile picture as DIR/<class>.png")
      ->type_name("DIR");
  return {cmd, [options](Host& host, bool) { return RunTools(host, *options); }};
}

}  // namespace vorn

// Processor time of writing one 1920 x 1080 frame in each format, depth and
// compression vorn offers (every thread of the process counted: the EXR
// writer compresses on a pool of its own), the float path beside the
// per-run tables where both exist, and the table conversion alone. The frame
// is WRITE_BENCH_FRAME (any image file, a rendered frame of a demo say) or
// the built-in test card. Files go to WRITE_BENCH_DIR (default: the system's
// temporary folder) and are synced, as vorn writes them; the counter
// "file_MB" is the size of the file written.
//
// Run with --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
// on a shared machine and read the medians.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "colour_space.h"
#include "default_images.h"
#include "image_io.h"
#include "sample_tables.h"

namespace {

using namespace vorn;
namespace oiio = OIIO;

const df::Image& Frame() {
  static ImageRef frame = [] {
    const char* path = std::getenv("WRITE_BENCH_FRAME");
    if (path && *path) {
      std::string error;
      if (ImageRef image = ReadImage(path, &error)) return image;
      std::fprintf(stderr, "write_bench: %s; the test card is used\n", error.c_str());
    }
    return MakeTestCard(1920, 1080, 1.0);
  }();
  return *frame;
}

std::string Dir() {
  const char* dir = std::getenv("WRITE_BENCH_DIR");
  return dir && *dir ? dir : std::filesystem::temp_directory_path().string();
}

void Write(benchmark::State& state, const char* ext, BitDepth depth, const char* method, int level,
           bool floatPath) {
  WriteOptions options;
  options.depth = depth;
  if (method) options.compression.method = method;
  options.compression.level = level;
  options.floatPath = floatPath;
  const std::string path = Dir() + "/vorn_write_bench." + ext;
  const ImageFormat format = *OutputFormatFor(path);
  // Two writer threads, as on these two cores.
  SetExrThreads(2);
  std::string error;
  for (auto _ : state)
    if (!WriteImage(Frame(), path, format, &error, options)) state.SkipWithError(error.c_str());
  state.counters["file_MB"] = double(std::filesystem::file_size(path)) / 1e6;
  std::filesystem::remove(path);
}

void Convert(benchmark::State& state, oiio::TypeDesc type, const char* space, bool alpha) {
  const SampleTables* tables = TablesFor(type, space, false);
  if (!tables) {
    state.SkipWithError("no tables");
    return;
  }
  // Band by band into one buffer, as the writers convert.
  constexpr int kBandRows = 128;
  const df::Image& frame = Frame();
  std::vector<uint8_t> out(size_t(frame.width) * kBandRows * 4 * tables->SampleSize());
  for (auto _ : state)
    for (int y = 0; y < frame.height; y += kBandRows) {
      tables->Convert(frame, y, std::min(frame.height, y + kBandRows), alpha, out.data());
      benchmark::DoNotOptimize(out.data());
      benchmark::ClobberMemory();
    }
}

#define WRITE(name, ...)                      \
  BENCHMARK_CAPTURE(Write, name, __VA_ARGS__) \
      ->Unit(benchmark::kMillisecond)         \
      ->MeasureProcessCPUTime()

WRITE(png_6, "png", BitDepth::Default, nullptr, -1, false);
WRITE(png_6_float_path, "png", BitDepth::Default, nullptr, -1, true);
WRITE(png_1, "png", BitDepth::Default, nullptr, 1, false);
WRITE(png_9, "png", BitDepth::Default, nullptr, 9, false);
WRITE(jpeg, "jpg", BitDepth::Default, nullptr, -1, false);
WRITE(tiff_zip, "tif", BitDepth::Default, nullptr, -1, false);
WRITE(tiff_none, "tif", BitDepth::Default, "none", -1, false);
WRITE(tiff16_zip, "tif", BitDepth::U16, nullptr, -1, false);
WRITE(tiff16_zip_float_path, "tif", BitDepth::U16, nullptr, -1, true);
WRITE(tiff_float_none, "tif", BitDepth::Float, "none", -1, false);
WRITE(dpx10, "dpx", BitDepth::Default, nullptr, -1, false);
WRITE(dpx10_float_path, "dpx", BitDepth::Default, nullptr, -1, true);
WRITE(dpx16, "dpx", BitDepth::U16, nullptr, -1, false);
WRITE(exr_half_none, "exr", BitDepth::Half, "none", -1, false);
WRITE(exr_half_rle, "exr", BitDepth::Half, "rle", -1, false);
WRITE(exr_half_zips, "exr", BitDepth::Half, "zips", -1, false);
WRITE(exr_half_zip, "exr", BitDepth::Half, "zip", -1, false);
WRITE(exr_half_zip_float_path, "exr", BitDepth::Half, "zip", -1, true);
WRITE(exr_half_piz, "exr", BitDepth::Half, "piz", -1, false);
WRITE(exr_half_dwaa, "exr", BitDepth::Half, "dwaa", -1, false);
WRITE(exr_half_none_float_path, "exr", BitDepth::Half, "none", -1, true);
WRITE(exr_half_rle_float_path, "exr", BitDepth::Half, "rle", -1, true);
WRITE(exr_float_none, "exr", BitDepth::Float, "none", -1, false);
WRITE(exr_float_rle, "exr", BitDepth::Float, "rle", -1, false);
WRITE(exr_float_zip, "exr", BitDepth::Float, "zip", -1, false);

BENCHMARK_CAPTURE(Convert, half_linear_rgba, oiio::TypeDesc::HALF, kLinearColourSpace, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, float_linear_rgba, oiio::TypeDesc::FLOAT, kLinearColourSpace, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, u16_srgb_rgb, oiio::TypeDesc::UINT16, kToolColourSpace, false)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

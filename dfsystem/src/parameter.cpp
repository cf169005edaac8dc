#include "dfsystem/parameter.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "dfsystem/app.h"
#include "dfsystem/chunk_trace.h"
#include "pixel_store.h"
#include "worker_pool.h"

namespace df {
namespace {

// Images of at least this many bytes are cleared by the worker pool, in
// pieces of at most kClearPiece bytes, and in as many pieces as the tools'
// chunk count (the thread's render workers, else processorCount) where that
// makes them no smaller than
// kMinClearPiece: a frame's output cleared on the thread of Process alone is
// a serial step that grows with the frame and not with the cores (about a
// millisecond for 1920 x 1080 here), and eight 1 MiB pieces would leave most
// threads of a many-core machine idle.
constexpr size_t kPoolClearBytes = size_t(4) << 20;
constexpr size_t kClearPiece = size_t(1) << 20;
constexpr size_t kMinClearPiece = size_t(64) << 10;

// The bytes of each piece (a multiple of 64, the last piece takes the rest).
size_t ClearPieceBytes(size_t bytes, int chunks) {
  size_t pieces = (bytes + kClearPiece - 1) / kClearPiece;
  if (chunks > 0) pieces = std::max(pieces, std::min(size_t(chunks), bytes / kMinClearPiece));
  const size_t piece = (bytes + pieces - 1) / pieces;
  return (piece + 63) / 64 * 64;
}

void Clear(uint8_t* data, size_t bytes) {
  const App* app = GetApp();
  int threads = app ? std::max(1, app->threadCount) : 1;
  int chunks = app ? app->processorCount : 1;
  if (const int workers = ThreadRenderWorkers(); workers > 0) {
    threads = std::min(threads, workers);
    chunks = workers;
  }
  if (bytes < kPoolClearBytes || threads < 2) {
    std::memset(data, 0, bytes);
    return;
  }
  const size_t pieceBytes = ClearPieceBytes(bytes, chunks);
  const long pieces = long((bytes + pieceBytes - 1) / pieceBytes);
  // Traced like a pass, so the chunk model counts it where it runs; not
  // shown as one in the progress.
  PassRecorder recorder(pieces, false);
  const std::function<void(long)> body = [&](long k) {
    const PassRecorder::Stamp start = recorder.ChunkStart();
    const size_t begin = size_t(k) * pieceBytes;
    std::memset(data + begin, 0, std::min(pieceBytes, bytes - begin));
    recorder.ChunkDone(k, start);
  };
  bool cleared = false;
  try {
    cleared = WorkerPool::Instance().Run(pieces, threads, body);
  } catch (...) {  // no thread could be started
  }
  if (!cleared) std::memset(data, 0, bytes);
}

}  // namespace

Image* Image::Create(int width, int height, double aspect, Contents contents) {
  if (width < 0 || height < 0 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
  const size_t w = size_t(width), h = size_t(height);
  Image* image = new (std::nothrow) Image();
  if (!image) return nullptr;
  image->width = width;
  image->height = height;
  image->aspect = aspect;
  const size_t bytes = w * h * 4;
  if (bytes > 0) {
    image->data_ = {detail::TakePixels(bytes), PixelRelease{bytes}};
    if (!image->data_) {
      delete image;
      return nullptr;
    }
    if (contents == Contents::kCleared) Clear(image->data_.get(), bytes);
  }
  if (h > 0) {
    image->rowTable_.reset(new (std::nothrow) uint8_t*[h]);
    if (!image->rowTable_) {
      delete image;
      return nullptr;
    }
    for (size_t y = 0; y < h; ++y)
      image->rowTable_[y] = image->data_ ? image->data_.get() + y * w * 4 : nullptr;
    image->rows = image->rowTable_.get();
  }
  return image;
}

void PixelRelease::operator()(uint8_t* data) const {
  detail::GivePixels(data, bytes);
}

Image* NewImage(const Image* like, Image::Contents contents) {
  if (!like) return nullptr;
  return Image::Create(like->width, like->height, like->aspect, contents);
}

AutoNumber::AutoNumber(double value) : n_(new (std::nothrow) Number(value)) {}

AutoNumber::~AutoNumber() {
  if (n_) n_->Recycle();
}

}  // namespace df

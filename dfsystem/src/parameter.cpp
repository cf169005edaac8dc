#include "dfsystem/parameter.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "dfsystem/app.h"
#include "dfsystem/chunk_trace.h"
#include "worker_pool.h"

namespace df {
namespace {

// Images of at least this many bytes are cleared by the worker pool, in
// pieces of kClearPiece bytes: a frame's output cleared on the thread of
// Process alone is a serial step that grows with the frame and not with the
// cores (about a millisecond for 1920 x 1080 here), and on a many-core
// machine it would cost as much as a whole pass.
constexpr size_t kPoolClearBytes = size_t(4) << 20;
constexpr size_t kClearPiece = size_t(1) << 20;

void Clear(uint8_t* data, size_t bytes) {
  const App* app = GetApp();
  int threads = app ? std::max(1, app->threadCount) : 1;
  if (const int workers = ThreadRenderWorkers(); workers > 0) threads = std::min(threads, workers);
  if (bytes < kPoolClearBytes || threads < 2) {
    std::memset(data, 0, bytes);
    return;
  }
  const long pieces = long((bytes + kClearPiece - 1) / kClearPiece);
  // Traced like a pass, so the chunk model counts it where it runs; not
  // shown as one in the progress.
  PassRecorder recorder(pieces, false);
  const std::function<void(long)> body = [&](long k) {
    const PassRecorder::Stamp start = recorder.ChunkStart();
    const size_t begin = size_t(k) * kClearPiece;
    std::memset(data + begin, 0, std::min(kClearPiece, bytes - begin));
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

Image* Image::Create(int width, int height, double aspect) {
  if (width < 0 || height < 0 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
  const size_t w = size_t(width), h = size_t(height);
  Image* image = new (std::nothrow) Image();
  if (!image) return nullptr;
  image->width = width;
  image->height = height;
  image->aspect = aspect;
  const size_t bytes = w * h * 4;
  if (bytes > 0) {
    image->data_.reset(new (std::nothrow) uint8_t[bytes]);
    if (!image->data_) {
      delete image;
      return nullptr;
    }
    Clear(image->data_.get(), bytes);
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

Image* NewImage(const Image* like) {
  if (!like) return nullptr;
  return Image::Create(like->width, like->height, like->aspect);
}

AutoNumber::AutoNumber(double value) : n_(new (std::nothrow) Number(value)) {}

AutoNumber::~AutoNumber() {
  if (n_) n_->Recycle();
}

}  // namespace df

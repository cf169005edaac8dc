#include "dfsystem/archive.h"

#include <cstring>

namespace df {
namespace {
constexpr size_t kBufferSize = 4096;
}

CArchive::CArchive(std::FILE* file, Mode mode) : mode_(mode), file_(file) {
  buffer_.resize(kBufferSize);
  if (!file_) failed_ = true;
}

CArchive::CArchive(const uint8_t* data, size_t size)
    : mode_(load), data_(data), size_(data ? size : 0) {}

CArchive::CArchive(std::vector<uint8_t>* sink) : mode_(store), sink_(sink) {
  if (!sink_) failed_ = true;
}

CArchive::~CArchive() {
  if (mode_ == store) Flush();
}

bool CArchive::WriteWord(uint32_t word) {
  if (failed_ || mode_ != store) return failed_ = true, false;
  const uint8_t bytes[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16),
                            uint8_t(word >> 24)};
  if (sink_) {
    sink_->insert(sink_->end(), bytes, bytes + 4);
  } else {
    if (bufferLen_ + 4 > buffer_.size() && !Flush()) return false;
    std::memcpy(buffer_.data() + bufferLen_, bytes, 4);
    bufferLen_ += 4;
  }
  ++words_;
  return true;
}

bool CArchive::Fill() {
  // Keeps any partial word at the front, then reads more.
  const size_t left = bufferLen_ - bufferPos_;
  std::memmove(buffer_.data(), buffer_.data() + bufferPos_, left);
  bufferPos_ = 0;
  bufferLen_ = left;
  const size_t got = std::fread(buffer_.data() + left, 1, buffer_.size() - left, file_);
  bufferLen_ += got;
  return got > 0;
}

bool CArchive::ReadWord(uint32_t& word) {
  word = 0;
  if (failed_ || mode_ != load) return failed_ = true, false;
  const uint8_t* b = nullptr;
  if (file_) {
    if (bufferLen_ - bufferPos_ < 4) Fill();
    if (bufferLen_ - bufferPos_ < 4) return failed_ = true, false;
    b = buffer_.data() + bufferPos_;
    bufferPos_ += 4;
  } else {
    if (size_ - pos_ < 4) return failed_ = true, false;
    b = data_ + pos_;
    pos_ += 4;
  }
  word = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  ++words_;
  return true;
}

bool CArchive::WriteDouble(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return WriteWord(uint32_t(bits)) && WriteWord(uint32_t(bits >> 32));
}

bool CArchive::ReadDouble(double& value) {
  uint32_t lo = 0, hi = 0;
  const bool ok = ReadWord(lo) && ReadWord(hi);
  const uint64_t bits = uint64_t(hi) << 32 | lo;
  std::memcpy(&value, &bits, sizeof value);
  return ok;
}

bool CArchive::WriteFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return WriteWord(bits);
}

bool CArchive::ReadFloat(float& value) {
  uint32_t bits = 0;
  const bool ok = ReadWord(bits);
  std::memcpy(&value, &bits, sizeof value);
  return ok;
}

bool CArchive::Flush() {
  if (mode_ != store || sink_ || !file_) return !failed_;
  if (bufferLen_ > 0) {
    if (std::fwrite(buffer_.data(), 1, bufferLen_, file_) != bufferLen_) failed_ = true;
    bufferLen_ = 0;
  }
  if (std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

bool CArchive::AtEnd() {
  if (mode_ != load) return false;
  if (file_) {
    if (bufferLen_ > bufferPos_) return false;
    Fill();
    return bufferLen_ == bufferPos_;
  }
  return pos_ == size_;
}

}  // namespace df

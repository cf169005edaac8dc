// Buffered little-endian 32-bit word streams on a file or a memory buffer: the
// carrier of saved operator records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace df {

class CArchive {
 public:
  enum Mode { load, store };

  // Reads from or writes to an open stdio file; the archive does not close it.
  CArchive(std::FILE* file, Mode mode);
  // Reads words from a memory buffer that outlives the archive.
  CArchive(const uint8_t* data, size_t size);
  // Appends words to a memory buffer that outlives the archive.
  explicit CArchive(std::vector<uint8_t>* sink);
  ~CArchive();

  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  bool IsLoading() const { return mode_ == load; }
  bool IsStoring() const { return mode_ == store; }

  // False (and the archive marked failed) on a write error, on reading past the
  // end, or on use in the wrong direction. A failed archive stays failed.
  bool WriteWord(uint32_t word);
  bool ReadWord(uint32_t& word);
  CArchive& operator<<(uint32_t word) {
    WriteWord(word);
    return *this;
  }
  CArchive& operator>>(uint32_t& word) {
    if (!ReadWord(word)) word = 0;
    return *this;
  }

  bool WriteDouble(double value);
  bool ReadDouble(double& value);
  bool WriteFloat(float value);
  bool ReadFloat(float& value);

  // Pushes buffered words to the file; false on error.
  bool Flush();
  bool Failed() const { return failed_; }
  // Words read or written so far.
  size_t WordCount() const { return words_; }
  // For a loading archive: whether every byte of the source has been consumed.
  bool AtEnd();

 private:
  bool Fill();

  Mode mode_;
  std::FILE* file_ = nullptr;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  std::vector<uint8_t>* sink_ = nullptr;
  std::vector<uint8_t> buffer_;
  size_t bufferPos_ = 0;
  size_t bufferLen_ = 0;
  size_t words_ = 0;
  bool failed_ = false;
};

}  // namespace df

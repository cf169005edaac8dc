#include "file_bytes.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vorn {

bool ReadFileBytes(const std::string& path, uintmax_t maxBytes, std::vector<uint8_t>* bytes,
                   std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    *error = path + (std::filesystem::exists(path, ec) ? " is not a file" : " does not exist");
    return false;
  }
  if (std::filesystem::file_size(path, ec) > maxBytes) {
    *error = path + " is larger than " + std::to_string(maxBytes >> 20) + " MiB";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

}  // namespace vorn

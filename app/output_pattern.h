// File name patterns with a frame number: "#" (four digits), a run of "#" or
// "@" (one digit each), printf-style "%d" / "%04d", and "%%" for a literal "%".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// Why an output pattern with a frame field in a folder part is refused.
inline constexpr const char* kFrameInFolderText =
    "a frame number (#, @ or %d) may go in the file name only, not in a folder name";

class FramePattern {
 public:
  // False, with the reason, for an unsupported "%" sequence or a padding wider
  // than kMaxPadding digits.
  static std::optional<FramePattern> Parse(std::string_view text, std::string* error);

  // Whether the pattern names a frame at all (a plain file name does not).
  bool HasFrame() const;
  // Whether a frame field lies in a folder part (before the last '/'), so
  // that frames would go to different folders. Output patterns refuse it:
  // the folders are checked and made once, before the first frame.
  bool FrameInFolder() const;
  // The file name of a frame: each field zero-padded to its width, printf
  // style, so -5 in a four-digit field reads "-005".
  std::string Format(int frame) const;
  const std::string& Text() const { return text_; }

  static constexpr int kMaxPadding = 16;

 private:
  struct Piece {
    std::string literal;  // used when width == 0
    int width = 0;        // frame field of this minimum width
  };
  std::string text_;
  std::vector<Piece> pieces_;
};

}  // namespace vorn

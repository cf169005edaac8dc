#include "output_pattern.h"

#include <cstdio>

namespace vorn {

std::optional<FramePattern> FramePattern::Parse(std::string_view text, std::string* error) {
  FramePattern p;
  p.text_ = std::string(text);
  std::string literal;
  auto addField = [&](int width) {
    if (!literal.empty()) p.pieces_.push_back({literal, 0});
    literal.clear();
    p.pieces_.push_back({"", width});
  };
  const std::string quoted = "\"" + std::string(text) + "\"";
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '#' || c == '@') {
      size_t run = 1;
      while (i + run < text.size() && text[i + run] == c) ++run;
      // A single '#' stands for four digits; a longer run, like '@', for one digit each.
      const size_t width = (c == '#' && run == 1) ? 4 : run;
      if (width > size_t(kMaxPadding)) {
        *error = quoted + ": a frame field may be at most " + std::to_string(kMaxPadding) +
                 " digits wide";
        return std::nullopt;
      }
      addField(int(width));
      i += run;
    } else if (c == '%') {
      if (i + 1 < text.size() && text[i + 1] == '%') {
        literal += '%';
        i += 2;
        continue;
      }
      size_t j = i + 1;
      int width = 0;
      const bool zero = j < text.size() && text[j] == '0';
      if (zero) ++j;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9' && width <= kMaxPadding) {
        width = width * 10 + (text[j] - '0');
        ++j;
      }
      if (j >= text.size() || text[j] != 'd' || (width > 0 && !zero) || width > kMaxPadding) {
        *error = quoted + ": \"%\" must start a frame field %d or %0Nd (N at most " +
                 std::to_string(kMaxPadding) + "), or be written %%";
        return std::nullopt;
      }
      addField(width == 0 ? 1 : width);
      i = j + 1;
    } else {
      literal += c;
      ++i;
    }
  }
  if (!literal.empty()) p.pieces_.push_back({literal, 0});
  return p;
}

bool FramePattern::HasFrame() const {
  for (const Piece& piece : pieces_)
    if (piece.width > 0) return true;
  return false;
}

bool FramePattern::FrameInFolder() const {
  bool field = false;
  for (const Piece& piece : pieces_) {
    if (piece.width > 0)
      field = true;
    else if (field && piece.literal.find('/') != std::string::npos)
      return true;
  }
  return false;
}

std::string FramePattern::Format(int frame) const {
  std::string out;
  for (const Piece& piece : pieces_) {
    if (piece.width == 0) {
      out += piece.literal;
    } else {
      char buf[48];
      std::snprintf(buf, sizeof buf, "%0*d", piece.width, frame);
      out += buf;
    }
  }
  return out;
}

}  // namespace vorn

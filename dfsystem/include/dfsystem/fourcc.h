// Four-character codes: 32-bit values whose bytes, in memory order, spell the code.
#pragma once

#include <cstdint>
#include <string>

namespace df {

constexpr uint32_t FourCC(const char (&code)[5]) {
  return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
         uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24;
}

constexpr uint32_t FourCC(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24;
}

// "0x0000ABCD": eight hexadecimal digits.
std::string HexText(uint32_t value);

// Printable form: the four characters when all are printable ASCII, else 0xXXXXXXXX.
std::string FourCCText(uint32_t code);

inline constexpr uint32_t kTypeNumber = FourCC("Numb");
inline constexpr uint32_t kTypePoint = FourCC("Poin");
inline constexpr uint32_t kTypeImage = FourCC("Imag");

// Control-panel kinds (INP_Control).
inline constexpr uint32_t kSliderControl = FourCC("SliC");
inline constexpr uint32_t kScrollControl = FourCC("ScrC");  // an angle, no hard limits
inline constexpr uint32_t kButtonControl = FourCC("BtnC");
inline constexpr uint32_t kCheckBoxControl = FourCC("ChBC");
inline constexpr uint32_t kComboControl = FourCC("ComC");
inline constexpr uint32_t kColorControl = FourCC("ColC");   // one channel of a colour group
inline constexpr uint32_t kOffsetControl = FourCC("OffC");  // a point's X and Y

// On-image kinds (INP_PreviewControl).
inline constexpr uint32_t kPointPreview = FourCC("PntC");
inline constexpr uint32_t kCrosshairPreview = FourCC("XHrC");
inline constexpr uint32_t kCirclePreview = FourCC("CirC");  // about the linked point
inline constexpr uint32_t kAnglePreview = FourCC("AngC");   // about the linked point

// Image inputs are numbered in declaration order k = 1, 2, 3 ...; the output is 1.
constexpr uint32_t ImageInputId(uint8_t k) {
  return FourCC(0xC9, 'n', 'p', k);
}
constexpr uint32_t OutputId(uint8_t k) {
  return FourCC(0xCF, 'u', 't', k);
}

}  // namespace df

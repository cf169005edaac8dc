// Control values as the command line writes them: "CAPTION=VALUE", decimal
// numbers, points "x,y", combo items by index or text, check boxes 0/1/on/off,
// and keyframes "value@frame,value@frame" (linear between keys).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// `s` without leading and trailing blanks and tabs.
std::string_view Trim(std::string_view s);

// A strict decimal number: optional sign, digits with an optional point and
// exponent, blanks around it allowed. Hexadecimal, "inf", "nan" and values
// beyond double's range are refused with the reason.
std::optional<double> ParseNumber(std::string_view text, std::string* error);

// A pixel aspect (--aspect): a number from 0.01 to 100.
std::optional<double> ParsePixelAspect(std::string_view text, std::string* error);

// The shortest text that reads back as the same double ("0.1", "2.5e-07").
std::string FormatNumber(double v);

// Splits "CAPTION=VALUE" at the first '='. False when there is no '=' or the
// caption is empty.
bool SplitAssignment(std::string_view text, std::string* caption, std::string* value,
                     std::string* error);

// What a control takes, as far as parsing a value needs to know.
enum class ValueKind { Number, Point, Combo, CheckBox, Button };

struct ControlSpec {
  std::string caption;
  ValueKind kind = ValueKind::Number;
  std::optional<double> minAllowed;
  std::optional<double> maxAllowed;
  std::vector<std::string> items;  // combo items, value i for item i
};

struct ParsedKey {
  double time = 0.0;
  double v[2] = {0.0, 0.0};  // a point uses both
};

struct ParsedValue {
  bool animated = false;        // keyframes; otherwise one constant in keys[0]
  std::vector<ParsedKey> keys;  // animated: strictly increasing times
};

// "0 to 1", "0 or more", "any finite number": a number control's allowed range.
std::string AllowedRangeText(const ControlSpec& info);

// Interprets VALUE for a control. Keyframes are written value@frame and
// separated by ',' or ';' (a point key is "x,y@frame"). Each value must be
// what the control accepts: within its allowed range, a combo item's index or
// its text, 0/1/on/off/true/false/yes/no for a check box; a button takes 1
// (press) or 0, or presses at frames as keys 1@frame. The error says what was wrong and what is
// allowed, without the caption (the caller names the control).
bool ParseControlValue(const ControlSpec& info, std::string_view text, ParsedValue* out,
                       std::string* error);

// "WxH" (also "W,H" or "W X H"): each side 1 to maxSide and at most
// maxPixels in all.
bool ParseSize(std::string_view text, int maxSide, long long maxPixels, int* width, int* height,
               std::string* error);

// A whole number from minValue to maxValue, for counts such as --workers.
std::optional<long long> ParseCount(std::string_view text, long long minValue, long long maxValue,
                                    std::string* error);

// "a", "b" and "c": quoted names joined for messages.
std::string QuotedList(const std::vector<std::string>& names);

// Lower-cased ASCII copy, for case-insensitive look-ups.
std::string AsciiLower(std::string_view s);

}  // namespace vorn

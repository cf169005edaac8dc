// Saved compositions as vorn reads them for `render --comp` and `show`: the
// record, checked whole, and the operator loaded from it when a plug-in
// registers its class; values the tool had to bring into range are named.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host.h"

namespace vorn {

// What a composition records of the shot it was made for, beside the values
// (in the host's settings of the record): the shot's first frame, and the
// size and pixel aspect of the tool's built-in images. Records saved before
// carry none of them.
struct ShotSettings {
  std::optional<int> firstFrame;
  std::optional<std::pair<int, int>> size;
  std::optional<double> aspect;
  bool operator==(const ShotSettings&) const = default;
};

struct Composition {
  df::SavedRecord record;
  size_t bytes = 0;
  df::OperatorPtr op;  // null when no loaded plug-in registers the class
  ShotSettings shot;
};

// The settings as the record stores them, and back. Reading refuses, with
// the reason, a frame that is not a whole number, a size or an aspect
// outside what vorn takes; ids it does not know are left alone.
std::vector<df::SavedSetting> ShotSettingsRecord(const ShotSettings& shot);
bool ReadShotSettings(const std::vector<df::SavedSetting>& saved, ShotSettings* shot,
                      std::string* error);

// A button's presses: the frames at which its saved keys hold 1 (a press),
// in time order. A button pressed before keys were kept has none.
std::vector<double> PressFrames(const df::ValueState& state);

// Reads `path`. False, with the reason, for anything that is not one whole,
// valid record: a missing or oversized file, a corrupt or cut record, data
// after its end, or a record the tool refuses. A record of a class that no
// loaded plug-in registers is read (without an operator) unless `needTool`.
bool LoadComposition(Host& host, const std::string& path, bool needTool, Composition* out,
                     std::string* error);

// Writes the operator's saved record, with `shot` in the host's settings, to
// `path`, whole or not at all. False with the reason.
bool WriteComposition(df::CPipelineDoc& doc, df::Operator& op, const ShotSettings& shot,
                      const std::string& path, std::string* error);

// One line for each saved value the tool did not take as it was (a number
// outside the control's allowed range, a combo index beyond its items): the
// control, the saved value and the value used. At most a few per control.
std::vector<std::string> AdjustedValues(const Composition& comp);

// Saves `op`'s record with `shot` in the host's settings.
bool SaveCompositionBytes(df::CPipelineDoc& doc, df::Operator& op, const ShotSettings& shot,
                          std::vector<uint8_t>* bytes, std::string* error);

}  // namespace vorn

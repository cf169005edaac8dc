#include "composition.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "atomic_file.h"
#include "controls_model.h"
#include "file_bytes.h"
#include "image_io.h"

namespace vorn {

namespace {

constexpr uint32_t kShotFirstFrame = df::FourCC("ShFr");
constexpr uint32_t kImageWidth = df::FourCC("ImgW");
constexpr uint32_t kImageHeight = df::FourCC("ImgH");
constexpr uint32_t kImageAspect = df::FourCC("ImgA");

}  // namespace

std::vector<df::SavedSetting> ShotSettingsRecord(const ShotSettings& shot) {
  std::vector<df::SavedSetting> out;
  if (shot.firstFrame) out.push_back({kShotFirstFrame, double(*shot.firstFrame)});
  if (shot.size) {
    out.push_back({kImageWidth, double(shot.size->first)});
    out.push_back({kImageHeight, double(shot.size->second)});
  }
  if (shot.aspect) out.push_back({kImageAspect, *shot.aspect});
  return out;
}

bool ReadShotSettings(const std::vector<df::SavedSetting>& saved, ShotSettings* shot,
                      std::string* error) {
  *shot = {};
  std::optional<double> width, height;
  for (const df::SavedSetting& s : saved) {
    const double v = s.value;
    if (s.id == kShotFirstFrame) {
      if (v != std::trunc(v) || v < double(INT_MIN) || v > double(INT_MAX)) {
        *error = "the shot's first frame " + FormatNumber(v) + " is not a whole frame number";
        return false;
      }
      shot->firstFrame = int(v);
    } else if (s.id == kImageWidth) {
      width = v;
    } else if (s.id == kImageHeight) {
      height = v;
    } else if (s.id == kImageAspect) {
      std::string why;
      shot->aspect = ParsePixelAspect(FormatNumber(v), &why);
      if (!shot->aspect) {
        *error = "the images' pixel aspect " + FormatNumber(v) + ": " + why;
        return false;
      }
    }
  }
  if (width || height) {
    const std::string text =
        FormatNumber(width.value_or(0)) + "x" + FormatNumber(height.value_or(0));
    int w = 0, h = 0;
    std::string why;
    if (!width || !height || !ParseSize(text, kMaxImageSide, kMaxImagePixels, &w, &h, &why)) {
      *error = "the images' size " + text + ": " + (why.empty() ? "one side is missing" : why);
      return false;
    }
    shot->size = {w, h};
  }
  return true;
}

std::vector<double> PressFrames(const df::ValueState& state) {
  std::vector<double> frames;
  if (!state.animated) return frames;
  for (const df::Keyframe& k : state.keys)
    if (k.v[0] != 0) frames.push_back(k.time);
  return frames;
}

bool SaveCompositionBytes(df::CPipelineDoc& doc, df::Operator& op, const ShotSettings& shot,
                          std::vector<uint8_t>* bytes, std::string* error) {
  op.hostSettings = ShotSettingsRecord(shot);
  df::CArchive archive(bytes);
  const bool ok = doc.SaveOperator(&op, archive, error) && archive.Flush();
  op.hostSettings.clear();
  if (!ok && error->empty()) *error = "the record could not be made";
  return ok;
}

bool LoadComposition(Host& host, const std::string& path, bool needTool, Composition* out,
                     std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, kMaxCompositionBytes, &bytes, error)) {
    *error = "cannot load composition: " + *error;
    return false;
  }
  out->bytes = bytes.size();
  // A saved composition is a tool's class id followed by the host data's
  // mark: anything else is some other file, said as such rather than as a
  // detail of the record.
  if (bytes.size() < 8 || std::memcmp(bytes.data() + 4, "DFhd", 4) != 0) {
    *error = "cannot load " + path + ": not a vorn composition (saved by vorn render --save " +
             "or vorn serve)";
    return false;
  }
  {
    df::CArchive archive(bytes.data(), bytes.size());
    if (!df::ReadSavedRecord(archive, &out->record, error)) {
      *error = "cannot load composition " + path + ": " + *error;
      return false;
    }
    if (!archive.AtEnd()) {
      *error = "cannot load composition " + path + ": " + path +
               " has data after the end of its saved record";
      return false;
    }
    if (!ReadShotSettings(out->record.settings, &out->shot, error)) {
      *error = "cannot load composition " + path + ": " + *error;
      return false;
    }
  }
  df::Registry* registry = df::ClassRegistry->FindByClassID(out->record.classId);
  if (!registry) {
    if (!needTool) return true;
    *error = "composition " + path + " is of tool class " + df::HexText(out->record.classId) +
             ", which no loaded plug-in registers; tools: " + host.ToolListText();
    return false;
  }
  df::CArchive archive(bytes.data(), bytes.size());
  out->op = host.Doc().LoadOperator(archive, error);
  if (!out->op) {
    *error = "cannot load composition " + path + ": " + *error;
    return false;
  }
  return true;
}

std::vector<std::string> AdjustedValues(const Composition& comp) {
  constexpr int kPerControl = 3;
  std::vector<std::string> lines;
  if (!comp.op) return lines;
  for (const df::SavedValue& saved : comp.record.values) {
    const df::Input* input = comp.op->FindInput(saved.id);
    if (!input || input->ValueType() != df::kTypeNumber) continue;
    const df::ValueState& used = input->State();
    int told = 0;
    auto note = [&](double was, double now, const std::string& where) {
      if (was == now || told++ >= kPerControl) return;
      std::string allowed;
      const ControlSpec control = SpecOf(*input);
      if (control.kind == ValueKind::Combo && !control.items.empty())
        allowed = "an item index 0 to " + std::to_string(control.items.size() - 1);
      else if (control.kind == ValueKind::CheckBox)
        allowed = "0 or 1";
      else
        allowed = AllowedRangeText(control);
      lines.push_back("\"" + input->Name() + "\"" + where + " was saved as " + FormatNumber(was) +
                      ", outside what it takes (" + allowed + "); " + FormatNumber(now) +
                      " is used");
    };
    note(saved.state.constant[0], used.constant[0], "");
    if (saved.state.keys.size() == used.keys.size())
      for (size_t k = 0; k < used.keys.size(); ++k)
        note(saved.state.keys[k].v[0], used.keys[k].v[0],
             " at frame " + FormatNumber(saved.state.keys[k].time));
    if (told > kPerControl)
      lines.push_back("\"" + input->Name() + "\": " + std::to_string(told - kPerControl) +
                      " more values adjusted");
  }
  return lines;
}

bool WriteComposition(df::CPipelineDoc& doc, df::Operator& op, const ShotSettings& shot,
                      const std::string& path, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!SaveCompositionBytes(doc, op, shot, &bytes, error)) {
    *error = "cannot save the composition: " + *error;
    return false;
  }
  return WriteFileAtomically(path, bytes.data(), bytes.size(), error);
}

}  // namespace vorn

// A tool's controls as one constexpr table: each row states a control's page,
// caption, id, kind, allowed and scale ranges, default, on-image kind, links and
// notification. The constructor declares from the table, resets restore from
// it, and each kind emits its tags in the fixed order of its declaration
// pattern.
#pragma once

#include <cstdint>
#include <span>

#include "framework/host.h"

namespace fw {

enum class ControlKind : uint8_t {
  kSlider,        // SliC: lowest allowed, default, top of the slider
  kScroll,        // ScrC: an angle ranged by its scale, no hard limits
  kCheckBox,      // ChBC
  kButton,        // BtnC, always notifies
  kCombo,         // ComC: items; the first is the initial choice
  kPresetCombo,   // ComC that notifies: demonstration presets
  kColorChannel,  // ColC: one channel of a colour group, 0..1
  kPoint,         // OffC with a point or crosshair handle
};

inline constexpr int kNoRow = -1;

struct ControlRow {
  const char* page = "";
  const char* caption = "";
  uint32_t id = 0;
  ControlKind kind = ControlKind::kSlider;
  // Ranges: which of INP_MinAllowed / INP_MaxAllowed / INP_MinScale /
  // INP_MaxScale are declared, and their values.
  bool hasMinAllowed = false, hasMaxAllowed = false, hasMinScale = false, hasMaxScale = false;
  double minAllowed = 0, maxAllowed = 0, minScale = 0, maxScale = 0;
  double def = 0;                      // INP_Default; a point's default x
  double defY = 0;                     // a point's default y
  uint32_t preview = 0;                // INP_PreviewControl, 0 for none
  int link = kNoRow;                   // INP_Link at declaration: an earlier row
  int linkBack = kNoRow;               // right after this row, that row's INP_Link names this one
  bool notify = false;                 // INP_Notify 1 (points; buttons and preset combos always)
  const char* const* items = nullptr;  // combo items
  int itemCount = 0;
  const char* groupName = nullptr;  // colour channel: group caption, number, channel
  int group = 0;
  int channel = 0;
  bool hasNumValue06 = false;  // INP_NumValue06 right after the default
  double numValue06 = 0;
  bool hasAngleValues = false;  // INP_CtlValue05 and INP_PreviewValue of angle scrolls
  int ctlValue05 = 0;
  int previewValue = 0;

  // Additions to a row, for table entries that need them.
  constexpr ControlRow Preview(uint32_t kind) const { return With(&ControlRow::preview, kind); }
  constexpr ControlRow LinkTo(int row) const { return With(&ControlRow::link, row); }
  constexpr ControlRow LinkBack(int row) const { return With(&ControlRow::linkBack, row); }
  constexpr ControlRow Notify() const { return With(&ControlRow::notify, true); }
  constexpr ControlRow NumValue06(double v) const {
    return With(&ControlRow::hasNumValue06, true).With(&ControlRow::numValue06, v);
  }
  constexpr ControlRow AngleValues(int ctl, int preview) const {
    return With(&ControlRow::hasAngleValues, true)
        .With(&ControlRow::ctlValue05, ctl)
        .With(&ControlRow::previewValue, preview);
  }
  constexpr ControlRow MaxAllowed(double v) const {
    return With(&ControlRow::hasMaxAllowed, true).With(&ControlRow::maxAllowed, v);
  }
  // This row with one field changed.
  template <class T>
  constexpr ControlRow With(T ControlRow::*field, T value) const {
    ControlRow r = *this;
    r.*field = value;
    return r;
  }

  constexpr bool IsPoint() const { return kind == ControlKind::kPoint; }
  constexpr uint32_t ValueType() const { return IsPoint() ? df::kTypePoint : df::kTypeNumber; }
};

// Row makers, one per kind of the declaration vocabulary.
constexpr ControlRow SliderRow(const char* page, const char* caption, const char (&id)[5],
                               double minAllowed, double def, double maxScale) {
  return {.page = page,
          .caption = caption,
          .id = df::FourCC(id),
          .kind = ControlKind::kSlider,
          .hasMinAllowed = true,
          .hasMaxScale = true,
          .minAllowed = minAllowed,
          .maxScale = maxScale,
          .def = def};
}

constexpr ControlRow ScrollRow(const char* page, const char* caption, const char (&id)[5],
                               double minScale, double def, double maxScale) {
  return {.page = page,
          .caption = caption,
          .id = df::FourCC(id),
          .kind = ControlKind::kScroll,
          .hasMinScale = true,
          .hasMaxScale = true,
          .minScale = minScale,
          .maxScale = maxScale,
          .def = def};
}

constexpr ControlRow CheckBoxRow(const char* page, const char* caption, const char (&id)[5]) {
  return {.page = page, .caption = caption, .id = df::FourCC(id), .kind = ControlKind::kCheckBox};
}

constexpr ControlRow ButtonRow(const char* page, const char* caption, const char (&id)[5]) {
  return {.page = page,
          .caption = caption,
          .id = df::FourCC(id),
          .kind = ControlKind::kButton,
          .notify = true};
}

template <size_t N>
constexpr ControlRow ComboRow(const char* page, const char* caption, const char (&id)[5],
                              const char* const (&items)[N]) {
  return {.page = page,
          .caption = caption,
          .id = df::FourCC(id),
          .kind = ControlKind::kCombo,
          .items = items,
          .itemCount = int(N)};
}

template <size_t N>
constexpr ControlRow PresetComboRow(const char* page, const char* caption, const char (&id)[5],
                                    const char* const (&items)[N]) {
  ControlRow r = ComboRow(page, caption, id, items);
  r.kind = ControlKind::kPresetCombo;
  r.notify = true;
  return r;
}

constexpr ControlRow ColorRow(const char* page, const char* caption, const char (&id)[5],
                              const char* groupName, int group, int channel, double def) {
  return {.page = page,
          .caption = caption,
          .id = df::FourCC(id),
          .kind = ControlKind::kColorChannel,
          .hasMinAllowed = true,
          .hasMaxAllowed = true,
          .minAllowed = 0,
          .maxAllowed = 1,
          .def = def,
          .groupName = groupName,
          .group = group,
          .channel = channel};
}

constexpr ControlRow PointRow(const char* page, const char* caption, const char (&id)[5],
                              uint32_t preview, double x, double y) {
  return {.page = page,
          .caption = caption,
          .id = df::FourCC(id),
          .kind = ControlKind::kPoint,
          .def = x,
          .defY = y,
          .preview = preview};
}

// The tags of `row`, in this order:
//   slider:  SliC, MinAllowed, [MaxAllowed], Default, [NumValue06], MaxScale, [Preview], [Link]
//   scroll:  ScrC, [Preview], MinScale, Default, MaxScale, [CtlValue05, PreviewValue], [Link]
//   colour:  GroupName, ColC, ColorGroup, ColorChannel, MinAllowed, MaxAllowed, Default
//   button:  BtnC, CtlFlag02 0, Flag01 0, Notify 1
//   check:   ChBC, CtlFlag02 0
//   combo:   ComC, ComboItem × n (preset combo: then Flag01 0, Notify 1)
//   point:   OffC, Preview, DefaultX, DefaultY, [Link], [Notify 1]
// `declared` holds the inputs declared so far, by row, for links.
df::TagList RowTags(std::span<const ControlRow> table, int row, df::Input* const* declared);

// Declares every row in order, opening a page whenever a row's page differs
// from the row before, and completes each row's link back. inputs[row]
// receives each input.
void DeclareControls(df::Operator& op, std::span<const ControlRow> table, df::Input** inputs);

// One step of a reset: which row, with which SetValue flag (see ResetChanges).
struct ResetStep {
  int row;
  int flag;
};

// Row of the table whose caption is `caption`, or kNoRow; for compile-time
// checks that named row constants match the table.
constexpr int RowOf(std::span<const ControlRow> table, const char* caption) {
  for (size_t i = 0; i < table.size(); ++i) {
    const char* a = table[i].caption;
    const char* b = caption;
    while (*a && *a == *b) ++a, ++b;
    if (*a == *b) return int(i);
  }
  return kNoRow;
}

}  // namespace fw

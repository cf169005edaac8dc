#include "framework/lifecycle.h"

namespace fw {

uint32_t SaveRecord(df::Operator& op, df::CArchive* archive, df::TagList* tags, uint32_t classId) {
  if (!archive) return 0;
  archive->WriteWord(classId);
  const uint32_t result = op.df::Operator::Save(archive, tags);
  archive->WriteWord(0);
  archive->WriteWord(kTrailerEnd);
  return result & 1;
}

void ReadTrailer(df::CArchive* archive) {
  if (!archive) return;
  uint32_t word = 0;
  archive->ReadWord(word);
  archive->ReadWord(word);
}

void SetNumber(df::Input* input, double value, double time, int flag) {
  if (!input) return;
  df::AutoNumber number(value);
  if (number.Get()) input->SetValue(number, time, flag);
}

void SetPoint(df::Input* input, float x, float y, double time, int flag) {
  if (!input) return;
  df::AutoParameter point(new (std::nothrow) df::Point(x, y));
  if (point.Get()) input->SetValue(point, time, flag);
}

}  // namespace fw

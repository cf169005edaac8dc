// Saved compositions as vorn reads them for `render --comp` and `show`: the
// record, checked whole, and the operator loaded from it when a plug-in
// registers its class; values the tool had to bring into range are named.
#pragma once

#include <string>
#include <vector>

#include "host.h"

namespace vorn {

struct Composition {
  df::SavedRecord record;
  size_t bytes = 0;
  df::OperatorPtr op;  // null when no loaded plug-in registers the class
};

// Reads `path`. False, with the reason, for anything that is not one whole,
// valid record: a missing or oversized file, a corrupt or cut record, data
// after its end, or a record the tool refuses. A record of a class that no
// loaded plug-in registers is read (without an operator) unless `needTool`.
bool LoadComposition(Host& host, const std::string& path, bool needTool, Composition* out,
                     std::string* error);

// Writes the operator's saved record to `path`, whole or not at all. False
// with the reason.
bool WriteComposition(df::CPipelineDoc& doc, df::Operator& op, const std::string& path,
                      std::string* error);

// One line for each saved value the tool did not take as it was (a number
// outside the control's allowed range, a combo index beyond its items): the
// control, the saved value and the value used. At most a few per control.
std::vector<std::string> AdjustedValues(const Composition& comp);

}  // namespace vorn

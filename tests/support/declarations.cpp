#include "tests/support/declarations.h"

#include <cstdio>

namespace testsupport {

using namespace df;

namespace {

std::string Number(double v) {
  char b[40];
  for (int precision = 6; precision <= 17; ++precision) {
    std::snprintf(b, sizeof b, "%.*g", precision, v);
    if (std::strtod(b, nullptr) == v) break;
  }
  return b;
}

bool IsFourCCTag(uint32_t tag) {
  return tag == INP_Control || tag == INP_PreviewControl;
}

std::string TagText(const TagItem& t) {
  std::string s = std::string(TagName(t.tag)) + "=";
  switch (t.kind) {
    case TagKind::Integer:
      return s + (IsFourCCTag(t.tag) ? FourCCText(uint32_t(t.i)) : std::to_string(t.i));
    case TagKind::Double:
      return s + Number(t.d);
    case TagKind::String:
      return s + (t.s ? t.s : "(null)");
    case TagKind::Pointer:
      return s + (t.p ? static_cast<const Input*>(t.p)->Name() : "(null)");
    case TagKind::Function:
      return s + "(function)";
  }
  return s;
}

}  // namespace

std::vector<std::string> DescribeInputs(const Operator& op) {
  std::vector<std::string> lines;
  for (const auto& in : op.Inputs()) {
    const bool image = in->ValueType() == kTypeImage || in->Page() < 0;
    std::string line = image ? std::string("-") : op.Pages().at(size_t(in->Page()));
    for (const std::string& field :
         {in->Name(), FourCCText(in->Id()), FourCCText(in->ValueType())}) {
      line += " | ";
      line += field;
    }
    line += " |";
    for (const TagItem& t : in->Tags().Items()) {
      line += ' ';
      line += TagText(t);
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace testsupport

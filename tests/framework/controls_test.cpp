// Declarations emitted from a control table: tag order per kind, pages, links
// and resets. Expected tags are written out here, not derived from the rows.
#include "framework/controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/control_changes.h"

namespace fw {
namespace {

using namespace df;

constexpr const char* kItems[] = {"One", "Two", "Three"};

enum Row { kP1, kA, kB, kC, kAngle, kCheck, kButton, kMode, kDemos, kRed, kP2, kP3, kQ1, kQ2 };

// clang-format off
constexpr ControlRow kTable[] = {
    PointRow("Main", "P1", "Pnt1", kCrosshairPreview, 0.5, 0.25),
    SliderRow("Main", "A", "AAAA", 0, 20, 1000).NumValue06(20),
    SliderRow("Main", "B", "BBBB", 0.001, 1, 10).Preview(kCirclePreview).LinkTo(kP1),
    SliderRow("Main", "C", "CCCC", -20, 3, 20).MaxAllowed(25),
    ScrollRow("Main", "Angle", "Angl", -360, 51.4, 360).Preview(kAnglePreview).AngleValues(3600, 450).LinkTo(kP1),
    CheckBoxRow("Main", "Check", "Chek"),
    ButtonRow("Main", "Press", "Pres"),
    ComboRow("Other", "Mode", "Mode", kItems),
    PresetComboRow("Other", "Demos", "Demo", kItems),
    ColorRow("Other", "Red", "Red1", "Colour", 2, 0, 0.25),
    PointRow("Main", "P2", "Pnt2", kPointPreview, 0.1, 0.2).LinkTo(kP1).Notify(),
    PointRow("Main", "P3", "Pnt3", kPointPreview, 0.3, 0.4).LinkTo(kP2).LinkBack(kP1).Notify(),
    PointRow("Pair", "Q1", "Qnt1", kPointPreview, 0.9, 0.7),
    PointRow("Pair", "Q2", "Qnt2", kPointPreview, 0.7, 0.7).LinkTo(kQ1).LinkBack(kQ1),
};
// clang-format on

static_assert(RowOf(kTable, "Demos") == kDemos);
static_assert(RowOf(kTable, "Nothing") == kNoRow);

class TableOperator : public ThreadedOperator {
 public:
  TableOperator() : ThreadedOperator(nullptr, nullptr, nullptr) {
    DeclareControls(*this, kTable, inputs);
  }
  Input* inputs[std::size(kTable)] = {};
};

// A tag as the test expects it: number and value in text.
std::string Text(const TagItem& t) {
  std::string s = std::string(TagName(t.tag)) + "=";
  switch (t.kind) {
    case TagKind::Integer:
      return s + (t.i > 0xFFFFFF ? FourCCText(uint32_t(t.i)) : std::to_string(t.i));
    case TagKind::Double: {
      char b[32];
      std::snprintf(b, sizeof b, "%g", t.d);
      return s + b;
    }
    case TagKind::String:
      return s + t.s;
    case TagKind::Pointer:
      return s + (t.p ? static_cast<const Input*>(t.p)->Name() : "null");
    case TagKind::Function:
      return s + "fn";
  }
  return s;
}

std::vector<std::string> Tags(const Input* input) {
  std::vector<std::string> v;
  for (const TagItem& t : input->Tags().Items()) v.push_back(Text(t));
  return v;
}

using Strings = std::vector<std::string>;

TEST(ControlTable, EachKindEmitsItsTagsInOrder) {
  TableOperator op;
  std::string why;
  ASSERT_TRUE(op.Healthy(&why)) << why;
  EXPECT_EQ(Tags(op.inputs[kA]), (Strings{"INP_Control=SliC", "INP_MinAllowed=0", "INP_Default=20",
                                          "INP_NumValue06=20", "INP_MaxScale=1000"}));
  EXPECT_EQ(Tags(op.inputs[kB]),
            (Strings{"INP_Control=SliC", "INP_MinAllowed=0.001", "INP_Default=1", "INP_MaxScale=10",
                     "INP_PreviewControl=CirC", "INP_Link=P1"}));
  EXPECT_EQ(Tags(op.inputs[kC]),
            (Strings{"INP_Control=SliC", "INP_MinAllowed=-20", "INP_MaxAllowed=25", "INP_Default=3",
                     "INP_MaxScale=20"}));
  EXPECT_EQ(Tags(op.inputs[kAngle]),
            (Strings{"INP_Control=ScrC", "INP_PreviewControl=AngC", "INP_MinScale=-360",
                     "INP_Default=51.4", "INP_MaxScale=360", "INP_CtlValue05=3600",
                     "INP_PreviewValue=450", "INP_Link=P1"}));
  EXPECT_EQ(Tags(op.inputs[kCheck]), (Strings{"INP_Control=ChBC", "INP_CtlFlag02=0"}));
  EXPECT_EQ(Tags(op.inputs[kButton]),
            (Strings{"INP_Control=BtnC", "INP_CtlFlag02=0", "INP_Flag01=0", "INP_Notify=1"}));
  EXPECT_EQ(Tags(op.inputs[kMode]), (Strings{"INP_Control=ComC", "INP_ComboItem=One",
                                             "INP_ComboItem=Two", "INP_ComboItem=Three"}));
  EXPECT_EQ(Tags(op.inputs[kDemos]),
            (Strings{"INP_Control=ComC", "INP_ComboItem=One", "INP_ComboItem=Two",
                     "INP_ComboItem=Three", "INP_Flag01=0", "INP_Notify=1"}));
  EXPECT_EQ(
      Tags(op.inputs[kRed]),
      (Strings{"INP_GroupName=Colour", "INP_Control=ColC", "INP_ColorGroup=2", "INP_ColorChannel=0",
               "INP_MinAllowed=0", "INP_MaxAllowed=1", "INP_Default=0.25"}));
  EXPECT_EQ(Tags(op.inputs[kP2]),
            (Strings{"INP_Control=OffC", "INP_PreviewControl=PntC", "INP_DefaultX=0.1",
                     "INP_DefaultY=0.2", "INP_Link=P1", "INP_Notify=1"}));
  EXPECT_EQ(op.inputs[kP1]->ValueType(), kTypePoint);
  EXPECT_EQ(op.inputs[kA]->ValueType(), kTypeNumber);
  EXPECT_EQ(op.inputs[kDemos]->Id(), FourCC("Demo"));
}

TEST(ControlTable, PagesOpenWhereThePageChangesEvenWhenANameRepeats) {
  TableOperator op;
  EXPECT_EQ(op.Pages(), (Strings{"Main", "Other", "Main", "Pair"}));
  EXPECT_EQ(op.inputs[kP1]->Page(), 0);
  EXPECT_EQ(op.inputs[kMode]->Page(), 1);
  EXPECT_EQ(op.inputs[kP2]->Page(), 2);
  EXPECT_EQ(op.inputs[kQ2]->Page(), 3);
}

TEST(ControlTable, RingsAndPairsCloseThroughTheLinkBack) {
  TableOperator op;
  // Ring P1 → P3 → P2 → P1: each names the one before, the first the last.
  EXPECT_EQ(op.inputs[kP2]->Link(), op.inputs[kP1]);
  EXPECT_EQ(op.inputs[kP3]->Link(), op.inputs[kP2]);
  EXPECT_EQ(op.inputs[kP1]->Link(), op.inputs[kP3]);
  // A pair names each other.
  EXPECT_EQ(op.inputs[kQ2]->Link(), op.inputs[kQ1]);
  EXPECT_EQ(op.inputs[kQ1]->Link(), op.inputs[kQ2]);
  // One-way links to a centre.
  EXPECT_EQ(op.inputs[kB]->Link(), op.inputs[kP1]);
}

TEST(ControlTable, ResetSetsDefaultsInItsOwnOrderWithItsFlags) {
  TableOperator op;
  Number n(7);
  for (int r : {kA, kC, kMode}) op.inputs[r]->SetValue(&n, 0, 0);
  Point p(0.9f, 0.9f);
  op.inputs[kP1]->SetValue(&p, 0, 0);
  const ResetStep steps[] = {{kP1, 0}, {kMode, 0}, {kC, 1}};
  const auto reset = ResetChanges(kTable, steps);
  ApplyChanges(op, kTable, op.inputs, {nullptr, reset}, 0);
  float x, y;
  op.inputs[kP1]->PointAt(0, x, y);
  EXPECT_EQ(x, 0.5f);
  EXPECT_EQ(y, 0.25f);
  EXPECT_EQ(op.inputs[kMode]->NumberAt(0), 0);
  EXPECT_EQ(op.inputs[kC]->NumberAt(0), 3);
  EXPECT_EQ(op.inputs[kA]->NumberAt(0), 7);  // not in the reset
}

}  // namespace
}  // namespace fw

// What every tool takes from the framework: the narrowing rule of control
// numbers, a frame's snapshot of values, sets of control changes with or
// without their own undo step, and the declaration of images and output.
#include "framework/tool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace fw {
namespace {

using namespace df;

TEST(ControlValues, NumbersNarrowByOneRule) {
  const float kLargest = 3.40282347e38f;
  EXPECT_EQ(NarrowControl(0.1), 0.1f);
  EXPECT_EQ(NarrowControl(-2.5), -2.5f);
  EXPECT_EQ(NarrowControl(std::nan("")), 0.0f);
  EXPECT_EQ(NarrowControl(1e300), kLargest);
  EXPECT_EQ(NarrowControl(-1e300), -kLargest);
  EXPECT_EQ(NarrowControl(std::numeric_limits<double>::infinity()), kLargest);
  EXPECT_EQ(NarrowControl(-std::numeric_limits<double>::infinity()), -kLargest);
}

constexpr const char* kItems[] = {"One", "Two"};
enum Row { kCentre, kSize, kPress, kMode, kOther };
constexpr ControlRow kTable[] = {
    PointRow("Main", "Centre", "Cent", kCrosshairPreview, 0.5, 0.25),
    SliderRow("Main", "Size", "Size", 0, 20, 100),
    ButtonRow("Main", "Press", "Pres"),
    ComboRow("Main", "Mode", "Mode", kItems),
    PointRow("Main", "Other", "Othr", kPointPreview, 0.1, 0.2),
};
constexpr ImageRow kImages[] = {{"Source", ImageInputId(1)},
                                {"Matte(optional)", ImageInputId(2), false}};
constexpr ResetStep kResetSteps[] = {{kSize, 1}, {kOther, 0}};
constexpr auto kResetChanges = ResetChanges(kTable, kResetSteps);
constexpr ToolDeclaration kDecl{{.className = "TestTool", .classId = 0x80010001},
                                kTable,
                                kImages,
                                {"Reset Test", kResetChanges},
                                kObjFlagSequential};

// A tool whose "Press" applies a set of changes to "Other" and "Mode".
class TestTool : public Tool<kDecl> {
 public:
  explicit TestTool(TagList* tags) : Tool(nullptr, nullptr, tags) {}
  using Tool::Control;
  using Tool::ImageInput;
  using Tool::OutputPort;
  using Tool::ReadValues;
  const char* caption = nullptr;

 private:
  void Changed(Input* input, Parameter*, double time) override {
    if (input != Control(kPress)) return;
    static constexpr ControlChange kChanges[] = {{kOther, 0.75, 0.125, 0}, {kMode, 1, 0, 1}};
    Apply({caption, kChanges}, time);
  }
};

struct ToolTest : ::testing::Test {
  ToolTest() : tags{{OBJ_Document, static_cast<const void*>(&doc)}}, tool(&tags) {}
  void SetNumber(int row, double v) {
    Number n(v);
    tool.Control(row)->SetValue(&n, 0, 1);
  }
  CPipelineDoc doc;
  TagList tags;
  TestTool tool;
};

TEST_F(ToolTest, DeclaresControlsImagesAndOutputFromTheDeclaration) {
  ASSERT_TRUE(tool.Healthy(nullptr));
  EXPECT_EQ(tool.Inputs().size(), 7u);
  EXPECT_EQ(tool.ImageInput(0)->Name(), "Source");
  EXPECT_EQ(tool.ImageInput(1)->Id(), ImageInputId(2));
  EXPECT_EQ(tool.ImageInput(0)->Tags().Integer(INP_Required).value_or(1), 1);
  EXPECT_EQ(tool.ImageInput(1)->Tags().Integer(INP_Required).value_or(1), 0);
  EXPECT_EQ(tool.OutputPort()->Id(), OutputId(1));
  EXPECT_EQ(tool.opMode, 2);
  EXPECT_EQ(tool.objFlags & kObjFlagSequential, kObjFlagSequential);
}

TEST_F(ToolTest, SnapshotHoldsNarrowedNumbersAndPoints) {
  const auto defaults = TestTool::Values::Defaults(kTable);
  EXPECT_EQ(defaults.X(kCentre), 0.5f);
  EXPECT_EQ(defaults.Y(kCentre), 0.25f);
  EXPECT_EQ(defaults.Number(kSize), 20.0f);

  SetNumber(kSize, 1e300);
  SetNumber(kMode, 1);
  Point p(0.3f, 0.7f);
  tool.Control(kCentre)->SetValue(&p, 0, 0);
  Request request(&tool, 0);
  const auto v = tool.ReadValues(&request);
  EXPECT_EQ(v.Number(kSize), 3.40282347e38f);
  EXPECT_EQ(v.Number(kMode), 1.0f);
  EXPECT_EQ(v.X(kCentre), 0.3f);
  EXPECT_EQ(v.Y(kCentre), 0.7f);
  EXPECT_EQ(v.Number(kPress), 0.0f);  // a button has no value
}

TEST_F(ToolTest, ChangeSetsAreOneUndoStepOnlyWithACaption) {
  const size_t before = doc.UndoCount();
  tool.caption = "Align";
  SetNumber(kPress, 1);  // its own step, then the set's step
  EXPECT_EQ(doc.UndoCount(), before + 2);
  EXPECT_EQ(doc.UndoCaption(), "Align");
  EXPECT_EQ(doc.UndoChangeCount(), 2u);
  float x, y;
  tool.Control(kOther)->PointAt(0, x, y);
  EXPECT_EQ(x, 0.75f);
  EXPECT_EQ(y, 0.125f);
  EXPECT_EQ(tool.Control(kMode)->NumberAt(0), 1);

  // Without a caption each change is a step of its own, as any other change.
  tool.caption = nullptr;
  SetNumber(kMode, 0);
  Point back(0, 0);
  tool.Control(kOther)->SetValue(&back, 0, 0);
  const size_t plain = doc.UndoCount();
  SetNumber(kPress, 2);
  EXPECT_EQ(doc.UndoCount(), plain + 3);
  EXPECT_EQ(doc.UndoChangeCount(), 1u);
  EXPECT_EQ(tool.Control(kMode)->NumberAt(0), 1);

  // A reset request sets the declared reset, as one step.
  SetNumber(kSize, 70);
  tool.NotifyChanged(nullptr, nullptr, 0);
  EXPECT_EQ(doc.UndoCaption(), "Reset Test");
  EXPECT_EQ(doc.UndoChangeCount(), 2u);
  EXPECT_EQ(tool.Control(kSize)->NumberAt(0), 20);
  tool.Control(kOther)->PointAt(0, x, y);
  EXPECT_EQ(x, 0.1f);

  // Under the guard the tool does nothing.
  doc.notifyGuard = 1;
  SetNumber(kMode, 0);
  SetNumber(kPress, 3);
  SetNumber(kSize, 70);
  tool.NotifyChanged(nullptr, nullptr, 0);
  EXPECT_EQ(tool.Control(kMode)->NumberAt(0), 0);
  EXPECT_EQ(tool.Control(kSize)->NumberAt(0), 70);
}

}  // namespace
}  // namespace fw

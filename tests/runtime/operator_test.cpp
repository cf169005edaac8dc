#include <gtest/gtest.h>

#include <cmath>

#include "probe_host.h"

using namespace df;
using probe::ProbeHost;

TEST_F(ProbeHost, DeclaresPagesInputsAndDefaults) {
  OperatorPtr op = Create();
  ASSERT_TRUE(op);
  EXPECT_EQ(op->Pages(), (std::vector<std::string>{"Controls", "Presets"}));
  ASSERT_EQ(op->Inputs().size(), 8u);
  Input* level = In(*op, "Level");
  EXPECT_EQ(level->Id(), FourCC("Levl"));
  EXPECT_EQ(level->Page(), 0);
  EXPECT_EQ(level->MinAllowed(), 0.0);
  EXPECT_FALSE(level->MaxAllowed().has_value());
  EXPECT_EQ(level->NumberAt(0), 0.5);
  EXPECT_EQ(In(*op, "Mode")->ComboItems(), (std::vector<std::string>{"Chunks", "Fill", "Copy"}));
  EXPECT_TRUE(In(*op, "Demos")->Notifies());
  EXPECT_FALSE(In(*op, "Level")->Notifies());
  EXPECT_EQ(In(*op, "Matte(optional)")->Id(), 0x02706EC9u);
  EXPECT_FALSE(In(*op, "Matte(optional)")->Required());
  EXPECT_TRUE(In(*op, "Input")->Required());
  EXPECT_EQ(op->opMode, 2);
}

TEST_F(ProbeHost, ValuesAreClampedAndNonFiniteRefused) {
  OperatorPtr op = Create();
  Input* level = In(*op, "Level");
  Set(level, -4);
  EXPECT_EQ(level->NumberAt(0), 0.0);
  Set(level, 40);  // the slider top is no hard limit
  EXPECT_EQ(level->NumberAt(0), 40.0);
  Number nan(std::nan(""));
  EXPECT_EQ(level->SetValue(&nan, 0, 1), 0u);
  EXPECT_EQ(level->NumberAt(0), 40.0);
  Point wrongType(1, 2);
  EXPECT_EQ(level->SetValue(&wrongType, 0, 1), 0u);
  Set(In(*op, "Mode"), 7);
  EXPECT_EQ(In(*op, "Mode")->NumberAt(0), 2.0);
}

TEST_F(ProbeHost, KeyframesInterpolateLinearlyAndHoldAtTheEnds) {
  OperatorPtr op = Create();
  Input* level = In(*op, "Level");
  level->SetAnimated(true, 0);
  Set(level, 0.0, 0);
  Set(level, 2.5, 48);
  EXPECT_EQ(level->NumberAt(-10), 0.0);
  EXPECT_DOUBLE_EQ(level->NumberAt(24), 1.25);
  EXPECT_EQ(level->NumberAt(100), 2.5);
  Set(level, 1.0, 24);  // a key between keeps order
  EXPECT_EQ(level->State().keys.size(), 3u);
  EXPECT_DOUBLE_EQ(level->NumberAt(12), 0.5);
  level->SetAnimated(false, 36);
  EXPECT_DOUBLE_EQ(level->NumberAt(0), 1.75);
}

TEST_F(ProbeHost, RemovingKeysIsUndoableAndTheLastLeavesItsValue) {
  OperatorPtr op = Create();
  Input* level = In(*op, "Level");
  EXPECT_FALSE(level->RemoveKey(0));  // not animated
  level->SetAnimated(true, 0);
  Set(level, 0.0, 0);
  Set(level, 1.0, 24);
  Set(level, 3.0, 48);
  const size_t steps = doc.UndoCount();
  EXPECT_FALSE(level->RemoveKey(12));  // no key there
  EXPECT_EQ(doc.UndoCount(), steps);
  ASSERT_TRUE(level->RemoveKey(24));
  EXPECT_EQ(doc.UndoCount(), steps + 1);
  EXPECT_EQ(doc.UndoCaption(), "Remove key of Level");
  EXPECT_DOUBLE_EQ(level->NumberAt(24), 1.5);  // now halfway from 0 to 3
  ASSERT_TRUE(level->RemoveKey(0));
  ASSERT_TRUE(level->RemoveKey(48));
  EXPECT_FALSE(level->State().animated);
  EXPECT_TRUE(level->State().keys.empty());
  EXPECT_EQ(level->NumberAt(0), 3.0);
  doc.Undo();
  doc.Undo();
  doc.Undo();
  EXPECT_TRUE(level->State().animated);
  EXPECT_EQ(level->State().keys.size(), 3u);
  EXPECT_DOUBLE_EQ(level->NumberAt(24), 1.0);
}

TEST_F(ProbeHost, EachSetValueIsOneUndoStepAndBracketsGroup) {
  OperatorPtr op = Create();
  Input* level = In(*op, "Level");
  Input* mode = In(*op, "Mode");
  Set(level, 0.1);
  Set(mode, 1);
  EXPECT_EQ(doc.UndoCount(), 2u);
  EXPECT_EQ(doc.UndoCaption(), "Change Mode");

  doc.StartUndo("Both");
  Set(level, 0.9);
  doc.StartUndo("Inner");  // nested brackets belong to the outer step
  Set(mode, 2);
  doc.EndUndo(1);
  doc.EndUndo(1);
  EXPECT_EQ(doc.UndoCount(), 3u);
  EXPECT_EQ(doc.UndoCaption(), "Both");
  EXPECT_EQ(doc.UndoChangeCount(), 2u);

  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(level->NumberAt(0), 0.1);
  EXPECT_EQ(mode->NumberAt(0), 1.0);
  ASSERT_TRUE(doc.Redo());
  EXPECT_EQ(level->NumberAt(0), 0.9);
  EXPECT_EQ(mode->NumberAt(0), 2.0);

  doc.StartUndo("Cancelled");
  Set(level, 0.3);
  doc.EndUndo(0);
  EXPECT_EQ(level->NumberAt(0), 0.9);
  EXPECT_EQ(doc.UndoCaption(), "Both");
  EXPECT_EQ(doc.RedoCount(), 0u);
}

TEST_F(ProbeHost, PresetsAndButtonsActThroughTheChangeHandler) {
  OperatorPtr op = Create();
  Input* level = In(*op, "Level");
  Set(In(*op, "Demos"), 1);
  EXPECT_EQ(level->NumberAt(0), 0.75);
  EXPECT_EQ(doc.UndoCaption(), "Probe Demo");
  Set(In(*op, "Demos"), 0, 0, 0);  // flag 0: set silently
  EXPECT_EQ(level->NumberAt(0), 0.75);
  Set(In(*op, "Poke"), 1);
  EXPECT_EQ(level->NumberAt(0), 1.0);

  // Undo runs with the guard up, so restoring "Demos" does not re-apply it.
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(doc.notifyGuard, 0);
}

TEST_F(ProbeHost, ResetRequestResetsInOneStepUnlessGuarded) {
  OperatorPtr op = Create();
  Set(In(*op, "Level"), 0.9);
  Set(In(*op, "Mode"), 2);
  const size_t steps = doc.UndoCount();

  doc.notifyGuard = 1;
  op->NotifyChanged(nullptr, nullptr, 0);
  doc.notifyGuard = 0;
  EXPECT_EQ(doc.UndoCount(), steps);
  EXPECT_EQ(In(*op, "Level")->NumberAt(0), 0.9);

  op->NotifyChanged(nullptr, nullptr, 0);
  EXPECT_EQ(doc.UndoCount(), steps + 1);
  EXPECT_EQ(doc.UndoCaption(), "Reset Probe");
  EXPECT_EQ(doc.UndoChangeCount(), 2u);  // unchanged values record nothing
  EXPECT_EQ(In(*op, "Level")->NumberAt(0), 0.5);
  EXPECT_EQ(In(*op, "Mode")->NumberAt(0), 0.0);
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(In(*op, "Level")->NumberAt(0), 0.9);
  EXPECT_EQ(In(*op, "Mode")->NumberAt(0), 2.0);
}

TEST_F(ProbeHost, DestroyedOperatorsLeaveNoUndoSteps) {
  OperatorPtr a = Create();
  OperatorPtr b = Create();
  Set(In(*a, "Level"), 0.2);
  Set(In(*b, "Level"), 0.3);
  a.reset();
  EXPECT_EQ(doc.UndoCount(), 1u);
  EXPECT_TRUE(doc.Undo());
  EXPECT_EQ(In(*b, "Level")->NumberAt(0), 0.5);
}

TEST_F(ProbeHost, RequestValuesStayValidForTheWholeRequest) {
  // Every value handed out lives as long as the request, however many more
  // are asked for after it, and each holds the value at the request's time.
  OperatorPtr op = Create();
  ASSERT_TRUE(op);
  Input* level = In(*op, "Level");
  level->SetAnimated(true, 0);
  Set(level, 0.25, 0);
  Set(level, 0.75, 10);
  Request request(op.get(), 5);
  std::vector<Parameter*> values;
  for (int k = 0; k < 300; ++k) values.push_back(request.GetInputData(level));
  for (Parameter* v : values) {
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->Type(), kTypeNumber);
    EXPECT_DOUBLE_EQ(static_cast<Number*>(v)->value, 0.5);
  }
  EXPECT_NE(values[0], values[1]);
}

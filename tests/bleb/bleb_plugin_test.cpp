// The built plug-in, loaded and driven through the runtime as a host would.
#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bleb/bleb_controls.h"
#include "test_image.h"
#include "tests/bleb/warp_threads.h"
#include "tests/support/declarations.h"
#include "tests/support/golden.h"
#include "tests/support/plugin_host.h"
#include "tests/support/scoped_env.h"

namespace bleb {
namespace {

using namespace df;

using testsupport::ScopedEnv;

// A host image holding a copy of a test image.
Image* HostImage(const test::Image& im, double aspect = 1.0) {
  Image* out = Image::Create(im.width, im.height, aspect);
  for (int y = 0; y < im.height; ++y) std::memcpy(out->rows[y], im.rows[y], size_t(im.width) * 4);
  return out;
}

std::vector<uint8_t> Bytes(const Image* im) {
  std::vector<uint8_t> v;
  for (int y = 0; y < im->height; ++y)
    v.insert(v.end(), im->rows[y], im->rows[y] + size_t(im->width) * 4);
  return v;
}

class BlebHost : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(loader.Load(BLEB_PLUGIN_PATH, &error)) << error;
    registry = ClassRegistry->FindByClassName("BlebPlugIn");
    ASSERT_NE(registry, nullptr);
  }

  OperatorPtr Create() {
    std::string error;
    OperatorPtr op = doc.CreateOperator(registry, &error);
    EXPECT_TRUE(op) << error;
    return op;
  }

  static void Set(Operator& op, const char* name, double v) {
    Number n(v);
    ASSERT_EQ(op.FindInputByName(name)->SetValue(&n, 0, 1), 1u) << name;
  }
  static void SetCentre(Operator& op, float x, float y) {
    df::Point p(x, y);
    ASSERT_EQ(op.FindInputByName("XY Center")->SetValue(&p, 0, 1), 1u);
  }

  // One frame; the delivered bytes, empty when nothing was delivered.
  static std::vector<uint8_t> Render(Operator& op, const test::Image& im, double aspect = 1.0) {
    Image* source = HostImage(im, aspect);
    std::vector<uint8_t> bytes;
    {
      Request request(&op, 0);
      request.SetInputImage(op.FindInputByName("Input"), source);
      op.Process(&request);
      if (auto* out = static_cast<Image*>(request.TakeOutputData(op.Outputs().at(0).get()))) {
        bytes = Bytes(out);
        out->Recycle();
      }
    }
    source->Recycle();
    return bytes;
  }

  App app;
  PluginLoader loader;
  CPipelineDoc doc;
  Registry* registry = nullptr;
};

TEST_F(BlebHost, RegistersTheRecordInItsTagOrder) {
  const std::vector<uint32_t> order = {
      REG_InitFunc, REG_CleanupFunc, REG_CreateFunc,  REG_ClassID, REG_OpType,   REG_TileBitmap,
      REG_PackName, REG_ShortName,   REG_Description, REG_Name,    REG_HelpFile, REG_ToolCode};
  ASSERT_EQ(registry->Tags().Size(), order.size());
  for (size_t k = 0; k < order.size(); ++k)
    EXPECT_EQ(registry->Tags().Items()[k].tag, order[k]) << k;
  EXPECT_EQ(registry->ClassID(), 0x8001008Cu);
  EXPECT_EQ(registry->OpType(), 3);
  EXPECT_EQ(registry->TileBitmap(), 101);
  EXPECT_EQ(registry->PackName(), "Vorn_Tamb9");
  EXPECT_EQ(registry->ShortName(), "Blb");
  EXPECT_EQ(registry->Description(), "For \"blebbing\" images");
  EXPECT_EQ(registry->Name(), "Bleb");
  EXPECT_EQ(registry->HelpFile(), "Tamb9.hlp");
  EXPECT_EQ(registry->ToolCode(), 0x01010901u);
  // Tile: a 116 x 87, 32 bits per pixel, uncompressed bitmap.
  const Resource* tile = registry->FindResource(101);
  ASSERT_NE(tile, nullptr);
  ASSERT_GE(tile->size, 54u);
  int32_t w, h;
  uint16_t bpp;
  uint32_t compression;
  std::memcpy(&w, tile->data + 18, 4);
  std::memcpy(&h, tile->data + 22, 4);
  std::memcpy(&bpp, tile->data + 28, 2);
  std::memcpy(&compression, tile->data + 30, 4);
  EXPECT_EQ(std::memcmp(tile->data, "BM", 2), 0);
  EXPECT_EQ(w, 116);
  EXPECT_EQ(std::abs(h), 87);
  EXPECT_EQ(bpp, 32);
  EXPECT_EQ(compression, 0u);
}

// The declarations as documented, written out independently of the table the
// plug-in declares from: a wrong range, default, id, order or link fails here.
std::vector<std::string> DocumentedDeclarations() {
  std::vector<std::string> d = {
      "Ctrl | XY Center | Cent | Poin | INP_Control=OffC INP_PreviewControl=XHrC "
      "INP_DefaultX=0.5 INP_DefaultY=0.5",
      "Ctrl | Scale | BScl | Numb | INP_Control=SliC INP_MinAllowed=0.001 INP_Default=1 "
      "INP_MaxScale=10 INP_PreviewControl=CirC INP_Link=XY Center",
      "Ctrl | Rotate | Rota | Numb | INP_Control=SliC INP_MinAllowed=-360 INP_Default=0 "
      "INP_MaxScale=360",
      "Ctrl | Fill Option | Fill | Numb | INP_Control=ComC INP_ComboItem=Duplicate Edges "
      "INP_ComboItem=Black Edges INP_ComboItem=Wrap Edges",
  };
  const char* angles[] = {"0", "51.4", "102.8", "154.3", "-154.3", "-102.9", "-51.4"};
  for (int n = 1; n <= 7; ++n) {
    const std::string k = std::to_string(n), page = "A" + k;
    d.push_back(page + " | Amplitude " + k + " | Amp" + k +
                " | Numb | INP_Control=SliC INP_MinAllowed=-0.99 INP_Default=0 INP_MaxScale=10");
    d.push_back(page + " | Angle " + k + " | Ang" + k +
                " | Numb | INP_Control=ScrC INP_PreviewControl=AngC INP_MinScale=-360 "
                "INP_Default=" +
                angles[n - 1] +
                " INP_MaxScale=360 INP_CtlValue05=3600 INP_PreviewValue=450 INP_Link=XY Center");
    d.push_back(page + " | Sharp " + k + " | Sha" + k +
                " | Numb | INP_Control=SliC INP_MinAllowed=1 INP_Default=4 INP_MaxScale=500");
  }
  d.push_back("- | Input | 0x01706EC9 | Imag |");
  return d;
}

TEST_F(BlebHost, DeclaresEveryControlAsDocumented) {
  OperatorPtr op = Create();
  EXPECT_EQ(op->Pages(),
            (std::vector<std::string>{"Ctrl", "A1", "A2", "A3", "A4", "A5", "A6", "A7"}));
  const std::vector<std::string> want = DocumentedDeclarations();
  const std::vector<std::string> got = testsupport::DescribeInputs(*op);
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) EXPECT_EQ(got[k], want[k]);
  for (const auto& in : op->Inputs()) EXPECT_FALSE(in->Notifies()) << in->Name();
  EXPECT_TRUE(op->FindInputByName("Input")->Required());
  ASSERT_EQ(op->Outputs().size(), 1u);
  EXPECT_EQ(op->Outputs()[0]->Id(), 0x017475CFu);
  EXPECT_EQ(op->Outputs()[0]->Name(), "Output");
  EXPECT_EQ(op->opMode, 2);
  EXPECT_EQ(op->opModeArg, 0);
}

TEST_F(BlebHost, ResetRestoresEveryDefaultInOneUndoStep) {
  OperatorPtr op = Create();
  SetCentre(*op, 0.2f, 0.9f);
  Set(*op, "Scale", 2.5);
  Set(*op, "Rotate", 45);
  Set(*op, "Fill Option", 2);
  for (int n = 1; n <= kLobes; ++n) {
    Set(*op, ("Amplitude " + std::to_string(n)).c_str(), 0.1 * n);
    Set(*op, ("Angle " + std::to_string(n)).c_str(), 10.0 * n);
    Set(*op, ("Sharp " + std::to_string(n)).c_str(), 5 + n);
  }
  const size_t steps = doc.UndoCount();
  std::vector<ValueState> changed;
  for (int c = 0; c < kControlCount; ++c) changed.push_back(op->Inputs()[c]->State());

  // Guarded: nothing at all happens.
  doc.notifyGuard = 1;
  op->NotifyChanged(nullptr, nullptr, 0);
  doc.notifyGuard = 0;
  EXPECT_EQ(doc.UndoCount(), steps);
  for (int c = 0; c < kControlCount; ++c) EXPECT_EQ(op->Inputs()[c]->State(), changed[c]);

  op->NotifyChanged(nullptr, nullptr, 0);
  EXPECT_EQ(doc.UndoCount(), steps + 1);
  EXPECT_EQ(doc.UndoCaption(), "Reset Bleb");
  // The centre, Scale, Rotate, Fill Option and three controls of each lobe.
  EXPECT_EQ(doc.UndoChangeCount(), 25u);
  float x, y;
  op->FindInputByName("XY Center")->PointAt(0, x, y);
  EXPECT_EQ(x, 0.5f);
  EXPECT_EQ(y, 0.5f);
  EXPECT_EQ(op->FindInputByName("Scale")->NumberAt(0), 1);
  EXPECT_EQ(op->FindInputByName("Rotate")->NumberAt(0), 0);
  EXPECT_EQ(op->FindInputByName("Fill Option")->NumberAt(0), 0);
  const double angles[] = {0, 51.4, 102.8, 154.3, -154.3, -102.9, -51.4};
  for (int n = 1; n <= 7; ++n) {
    const std::string k = std::to_string(n);
    EXPECT_EQ(op->FindInputByName("Amplitude " + k)->NumberAt(0), 0) << n;
    EXPECT_EQ(op->FindInputByName("Angle " + k)->NumberAt(0), angles[n - 1]) << n;
    EXPECT_EQ(op->FindInputByName("Sharp " + k)->NumberAt(0), 4) << n;
  }
  ASSERT_TRUE(doc.Undo());
  for (int c = 0; c < kControlCount; ++c) EXPECT_EQ(op->Inputs()[c]->State(), changed[c]);
}

TEST_F(BlebHost, RendersWhatTheKernelRendersForTheControls) {
  // Every control read into its field: the centre, Scale, Rotate, the fill
  // mode as an integer and each lobe, its angle negated.
  OperatorPtr op = Create();
  SetCentre(*op, 0.4f, 0.6f);
  Set(*op, "Scale", 0.8);
  Set(*op, "Rotate", 30);
  Set(*op, "Fill Option", 2);
  Set(*op, "Amplitude 2", 1.5);
  Set(*op, "Sharp 2", 6.5);
  Set(*op, "Amplitude 5", -0.5);
  Set(*op, "Angle 5", -120);
  const test::Image in = test::Smooth(120, 70);
  const std::vector<uint8_t> host = Render(*op, in, 1.25);

  WarpControls c = DefaultWarpControls();
  c.centerX = 0.4f;
  c.centerY = 0.6f;
  c.scale = 0.8f;
  c.rotate = 30;
  c.fillMode = 2;
  c.amplitude[1] = 1.5f;
  c.sharpness[1] = 6.5f;
  EXPECT_EQ(c.lobeAngle[1], -51.4f);
  c.amplitude[4] = -0.5f;
  c.lobeAngle[4] = 120;
  test::Image out(120, 70);
  ASSERT_TRUE(RunWarp(MakeWarpParams(c, 120, 70, 1.25f), in.in(), out.out(), 1));
  EXPECT_EQ(host, out.data);
}

TEST_F(BlebHost, BytesDoNotDependOnTheWorkerCount) {
  OperatorPtr op = Create();
  for (int n = 1; n <= kLobes; ++n)
    Set(*op, ("Amplitude " + std::to_string(n)).c_str(), 0.3 * n - 1);
  Set(*op, "Scale", 0.7);
  const test::Image in = test::Noise(97, 61, 3);
  for (int mode : {0, 1, 2}) {
    Set(*op, "Fill Option", mode);
    std::vector<uint8_t> first;
    for (const char* workers : {"1", "3", "16"}) {
      ScopedEnv env("NUM_PROC_VORN", workers);
      const std::vector<uint8_t> bytes = Render(*op, in);
      ASSERT_EQ(bytes.size(), in.data.size());
      if (first.empty())
        first = bytes;
      else
        EXPECT_EQ(bytes, first) << "mode " << mode << ", " << workers << " workers";
    }
  }
}

TEST_F(BlebHost, TinyImagesComeBackAsTheyWere) {
  OperatorPtr op = Create();
  Set(*op, "Amplitude 1", 3);
  for (auto [w, h] : {std::pair{2, 5}, std::pair{7, 1}, std::pair{1, 1}}) {
    const test::Image in = test::Noise(w, h, 11);
    EXPECT_EQ(Render(*op, in), in.data) << w << "x" << h;
  }
}

TEST_F(BlebHost, SavedRecordCarriesTheClassIdAndTrailer) {
  OperatorPtr op = Create();
  Set(*op, "Sharp 6", 12);
  std::vector<uint8_t> bytes;
  {
    CArchive archive(&bytes);
    std::string error;
    ASSERT_TRUE(doc.SaveOperator(op.get(), archive, &error)) << error;
  }
  ASSERT_GE(bytes.size(), 12u);
  const uint8_t classId[] = {0x8C, 0x00, 0x01, 0x80};
  EXPECT_EQ(std::memcmp(bytes.data(), classId, 4), 0);
  const uint8_t trailer[] = {0, 0, 0, 0, 0x45, 0x6E, 0x64, 0x43};
  EXPECT_EQ(std::memcmp(bytes.data() + bytes.size() - 8, trailer, 8), 0);
  CArchive reader(bytes.data(), bytes.size());
  std::string error;
  OperatorPtr loaded = doc.LoadOperator(reader, &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->FindInputByName("Sharp 6")->NumberAt(0), 12);
}

TEST_F(BlebHost, CancelledRenderDeliversNothing) {
  OperatorPtr op = Create();
  op->abortFlag = 1;
  EXPECT_TRUE(Render(*op, test::Noise(40, 30)).empty());
}

TEST_F(BlebHost, HostileControlValuesStayInsideTheImage) {
  // The host clamps to the allowed ranges, but those leave room for lobe sums
  // of zero (overlapping -0.99), Scale 0.001 and huge sharpness. ASan and
  // UBSan watch the reads.
  OperatorPtr op = Create();
  std::mt19937 rng(7);
  auto pick = [&](std::initializer_list<double> v) {
    return *(v.begin() + std::uniform_int_distribution<int>(0, int(v.size()) - 1)(rng));
  };
  for (int round = 0; round < 40; ++round) {
    SetCentre(*op, float(pick({0.5, -1, 2.5, 0.5001})), float(pick({0.5, -3, 1.7})));
    Set(*op, "Scale", pick({0.001, 0.5, 1, 10, 1e6}));
    Set(*op, "Rotate", pick({0, 90, -360, 1e9}));
    Set(*op, "Fill Option", pick({0, 1, 2}));
    for (int n = 1; n <= kLobes; ++n) {
      const std::string k = std::to_string(n);
      Set(*op, ("Amplitude " + k).c_str(), pick({0, -0.99, 10, 1e7}));
      Set(*op, ("Angle " + k).c_str(), pick({0, 1, -1, 720}));
      Set(*op, ("Sharp " + k).c_str(), pick({1, 4, 500, 1e9}));
    }
    const test::Image in = test::Noise(3 + round % 13, 2 + round % 7, round);
    ScopedEnv env("NUM_PROC_VORN", round % 2 ? "4" : "1");
    EXPECT_EQ(Render(*op, in).size(), in.data.size());
  }
}

// Reference renders under tests/golden/bleb/<case>/: the arguments in
// case.txt, the input made by test::Grid, the expected bytes in expected.png.
// The arithmetic is fixed, so the bytes must match exactly, with 1 and with 7
// workers; UPDATE_GOLDEN=1 rewrites the references.
TEST_F(BlebHost, GoldenRenders) {
  std::vector<testsupport::GoldenCase> cases;
  std::string error;
  ASSERT_TRUE(testsupport::ReadGoldenCases(BLEB_GOLDEN_DIR, &cases, &error)) << error;
  ASSERT_GE(cases.size(), 2u);
  for (const testsupport::GoldenCase& g : cases) {
    SCOPED_TRACE(g.name);
    ASSERT_EQ(g.inputs.size(), 1u);
    ASSERT_EQ(g.inputs[0].second, "grid");
    OperatorPtr op = Create();
    for (const auto& [caption, value] : g.sets)
      ASSERT_TRUE(testsupport::PluginHost::Set(*op, caption, value)) << caption;
    const test::Image grid = test::Grid(g.width, g.height);
    const testsupport::Pixels input{grid.width, grid.height, grid.data};
    for (int workers : {1, 7}) {
      const testsupport::Pixels out = testsupport::PluginHost::Render(
          *op, {{g.inputs[0].first, &input}}, g.time, workers, g.aspect);
      std::string message;
      EXPECT_TRUE(testsupport::MatchesGolden(g, out, &message))
          << workers << " workers: " << message;
    }
  }
}

}  // namespace
}  // namespace bleb

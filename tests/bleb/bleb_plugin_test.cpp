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
#include "bleb/warp_threads.h"
#include "test_image.h"
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

// One expected tag: its number and value.
struct Tag {
  uint32_t tag = 0;
  double number = 0;              // integers and doubles
  const void* pointer = nullptr;  // INP_Link
  const char* text = nullptr;     // combo items
};

TEST_F(BlebHost, DeclaresEveryControlAsItsTableSays) {
  OperatorPtr op = Create();
  const std::vector<std::string> pages = {"Ctrl", "A1", "A2", "A3", "A4", "A5", "A6", "A7"};
  EXPECT_EQ(op->Pages(), pages);
  ASSERT_EQ(op->Inputs().size(), size_t(kControlCount + 1));
  Input* centre = op->Inputs()[0].get();
  for (int c = 0; c < kControlCount; ++c) {
    const ControlSpec& entry = kControls[c];
    const Input& in = *op->Inputs()[c];
    SCOPED_TRACE(entry.caption);
    EXPECT_EQ(in.Name(), entry.caption);
    EXPECT_EQ(in.Id(), entry.id);
    EXPECT_EQ(pages.at(in.Page()), entry.page);
    EXPECT_FALSE(in.Notifies());
    std::vector<Tag> want;
    switch (entry.kind) {
      case ControlKind::kPoint:
        EXPECT_EQ(in.ValueType(), kTypePoint);
        want = {{INP_Control, double(FourCC("OffC"))},
                {INP_PreviewControl, double(FourCC("XHrC"))},
                {INP_DefaultX, 0.5},
                {INP_DefaultY, 0.5}};
        break;
      case ControlKind::kSlider:
        want = {{INP_Control, double(FourCC("SliC"))},
                {INP_MinAllowed, entry.low},
                {INP_Default, entry.def},
                {INP_MaxScale, entry.high}};
        if (c == kScale) {
          want.push_back({INP_PreviewControl, double(FourCC("CirC"))});
          want.push_back({INP_Link, 0, centre});
        }
        break;
      case ControlKind::kScroll:
        want = {{INP_Control, double(FourCC("ScrC"))},
                {INP_PreviewControl, double(FourCC("AngC"))},
                {INP_MinScale, -360},
                {INP_Default, entry.def},
                {INP_MaxScale, 360},
                {INP_CtlValue05, 3600},
                {INP_PreviewValue, 450},
                {INP_Link, 0, centre}};
        break;
      case ControlKind::kCombo:
        want = {{INP_Control, double(FourCC("ComC"))},
                {INP_ComboItem, 0, nullptr, "Duplicate Edges"},
                {INP_ComboItem, 0, nullptr, "Black Edges"},
                {INP_ComboItem, 0, nullptr, "Wrap Edges"}};
        break;
    }
    if (entry.kind != ControlKind::kPoint) {
      EXPECT_EQ(in.ValueType(), kTypeNumber);
    }
    const auto& items = in.Tags().Items();
    ASSERT_EQ(items.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) {
      EXPECT_EQ(items[k].tag, want[k].tag) << k;
      if (want[k].text)
        EXPECT_STREQ(items[k].s, want[k].text);
      else if (want[k].tag == INP_Link)
        EXPECT_EQ(items[k].p, want[k].pointer);
      else if (items[k].kind == TagKind::Double)
        EXPECT_EQ(items[k].d, want[k].number) << k;
      else
        EXPECT_EQ(double(items[k].i), want[k].number) << k;
    }
  }
  // The table itself, against the written values.
  EXPECT_EQ(kControls[kScale].low, 0.001);
  EXPECT_EQ(kControls[kRotate].low, -360);
  EXPECT_EQ(kControls[AmplitudeRow(6)].low, -0.99);
  EXPECT_EQ(kControls[AmplitudeRow(6)].high, 10);
  EXPECT_EQ(kControls[SharpRow(2)].def, 4);
  EXPECT_EQ(kControls[SharpRow(2)].high, 500);
  EXPECT_EQ(kControls[AngleRow(4)].def, -154.3);
  EXPECT_EQ(kControls[AngleRow(5)].def, -102.9);
  EXPECT_EQ(op->FindInputByName("Angle 3")->Id(), FourCC("Ang3"));
  EXPECT_EQ(op->FindInputByName("Scale")->Link(), centre);
  const Input& image = *op->Inputs()[kControlCount];
  EXPECT_EQ(image.Name(), "Input");
  EXPECT_EQ(image.Id(), 0x01706EC9u);
  EXPECT_TRUE(image.Required());
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
  for (int c = 0; c < kControlCount; ++c) {
    const Input& in = *op->Inputs()[c];
    if (kControls[c].kind == ControlKind::kPoint) {
      float x, y;
      in.PointAt(0, x, y);
      EXPECT_EQ(x, 0.5f);
      EXPECT_EQ(y, 0.5f);
    } else {
      EXPECT_EQ(in.NumberAt(0), kControls[c].def) << in.Name();
    }
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

// Reference renders under tests/golden/bleb/<case>/: the controls in
// controls.txt, the input made by test::Grid, the bytes in output.bgra.
// The arithmetic is fixed, so the bytes must match exactly; UPDATE_GOLDEN=1
// rewrites them.
struct GoldenCase {
  const char* name;
  int width, height;
  double aspect;
  std::vector<std::pair<const char*, double>> numbers;
  float centreX, centreY;
};

TEST_F(BlebHost, GoldenRenders) {
  const std::vector<GoldenCase> cases = {
      {"seven_lobes_wrap",
       160,
       90,
       1.0,
       {{"Fill Option", 2},
        {"Amplitude 1", 0.5},
        {"Amplitude 2", 0.8},
        {"Amplitude 3", 0.3},
        {"Amplitude 4", 1.0},
        {"Amplitude 5", 0.6},
        {"Amplitude 6", 0.4},
        {"Amplitude 7", 0.7},
        {"Sharp 3", 7.5},
        {"Rotate", 20}},
       0.45f,
       0.55f},
      {"half_scale_black",
       128,
       96,
       1.5,
       {{"Fill Option", 1}, {"Scale", 0.5}, {"Amplitude 4", -0.6}, {"Sharp 4", 2}},
       0.5f,
       0.5f},
  };
  const bool update = std::getenv("UPDATE_GOLDEN") != nullptr;
  for (const GoldenCase& g : cases) {
    SCOPED_TRACE(g.name);
    OperatorPtr op = Create();
    SetCentre(*op, g.centreX, g.centreY);
    std::string description = "input: test::Grid (tests/bleb/test_image.h), " +
                              std::to_string(g.width) + "x" + std::to_string(g.height) +
                              ", aspect " + std::to_string(g.aspect) +
                              "\noutput.bgra: rows top to bottom, bytes B G R A\nXY Center " +
                              std::to_string(g.centreX) + " " + std::to_string(g.centreY) + "\n";
    for (auto [name, v] : g.numbers) {
      Set(*op, name, v);
      description += std::string(name) + " " + std::to_string(v) + "\n";
    }
    const std::vector<uint8_t> bytes = Render(*op, test::Grid(g.width, g.height), g.aspect);
    const std::string dir = std::string(BLEB_GOLDEN_DIR) + "/" + g.name;
    if (update) {
      std::string command = "mkdir -p '" + dir + "'";
      ASSERT_EQ(std::system(command.c_str()), 0);
      std::ofstream(dir + "/controls.txt") << description;
      std::ofstream(dir + "/output.bgra", std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
      continue;
    }
    std::ifstream file(dir + "/output.bgra", std::ios::binary);
    ASSERT_TRUE(file) << "missing " << dir << "/output.bgra (make it with UPDATE_GOLDEN=1)";
    const std::vector<uint8_t> want((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    EXPECT_TRUE(want == bytes) << "render differs from " << dir;
  }
}

}  // namespace
}  // namespace bleb

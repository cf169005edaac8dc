// The built plug-in, loaded and driven through the runtime as a host would:
// its registration, its declared controls, its saved record and its frames.
#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/declarations.h"
#include "tests/support/plugin_host.h"

namespace {

using namespace df;
using testsupport::Pixels;
using testsupport::PluginHost;

class BubblesHost : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.Load(BUBBLES_PLUGIN_PATH, "BubblesPlugIn", &error)) << error;
  }
  OperatorPtr Create() {
    OperatorPtr op = host.Create();
    EXPECT_TRUE(op);
    return op;
  }
  PluginHost host;
};

Pixels Plate(int width, int height, uint8_t red) {
  Pixels p{width, height, std::vector<uint8_t>(size_t(width) * height * 4, 0)};
  for (size_t i = 2; i < p.bytes.size(); i += 4) p.bytes[i] = red;
  return p;
}

TEST_F(BubblesHost, RegistersTheRecordInItsTagOrder) {
  Registry* r = host.registry;
  const std::vector<uint32_t> order = {
      REG_InitFunc, REG_CleanupFunc, REG_CreateFunc,  REG_ClassID, REG_OpType,   REG_TileBitmap,
      REG_PackName, REG_ShortName,   REG_Description, REG_Name,    REG_HelpFile, REG_ToolCode};
  ASSERT_EQ(r->Tags().Size(), order.size());
  for (size_t k = 0; k < order.size(); ++k) EXPECT_EQ(r->Tags().Items()[k].tag, order[k]) << k;
  EXPECT_EQ(r->ClassID(), 0x8001007Du);
  EXPECT_EQ(r->OpType(), 3);
  EXPECT_EQ(r->TileBitmap(), 101);
  EXPECT_EQ(r->PackName(), "Vorn_Tamb6");
  EXPECT_EQ(r->ShortName(), "Bub");
  EXPECT_EQ(r->Description(), "For bubbles simulation");
  EXPECT_EQ(r->Name(), "Bubbles");
  EXPECT_EQ(r->HelpFile(), "Tamb6.hlp");
  EXPECT_EQ(r->ToolCode(), 0x01010601u);
  const Resource* tile = r->FindResource(101);
  ASSERT_NE(tile, nullptr);
  ASSERT_GE(tile->size, 54u);
  int32_t w, h;
  uint16_t bpp;
  std::memcpy(&w, tile->data + 18, 4);
  std::memcpy(&h, tile->data + 22, 4);
  std::memcpy(&bpp, tile->data + 28, 2);
  EXPECT_EQ(w, 116);
  EXPECT_EQ(std::abs(h), 87);
  EXPECT_EQ(bpp, 32);
}

// Written out from the documentation, independently of the control table.
const std::vector<std::string> kDocumented = {
    "Basics | Restart Bubbles | Kill | Numb | INP_Control=BtnC INP_CtlFlag02=0 INP_Flag01=0 "
    "INP_Notify=1",
    "Basics | Preroll Bubbles | Prol | Numb | INP_Control=BtnC INP_CtlFlag02=0 INP_Flag01=0 "
    "INP_Notify=1",
    "Basics | Preroll Frames | Fram | Numb | INP_Control=SliC INP_MinAllowed=1 INP_Default=150 "
    "INP_MaxScale=1000",
    "Basics | Bubble Quantity | Qtyy | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=20 "
    "INP_NumValue06=20 INP_MaxScale=1000",
    "Basics | Lifetime | Life | Numb | INP_Control=SliC INP_MinAllowed=1 INP_Default=200 "
    "INP_MaxScale=1000",
    "Basics | Position Radius | Radi | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=0.1 "
    "INP_MaxScale=1",
    "Basics | XY Left Source | Left | Poin | INP_Control=OffC INP_PreviewControl=PntC "
    "INP_DefaultX=0.1 INP_DefaultY=0.5 INP_Link=XY Right Source",
    "Basics | XY Right Source | Righ | Poin | INP_Control=OffC INP_PreviewControl=PntC "
    "INP_DefaultX=0.9 INP_DefaultY=0.5 INP_Link=XY Left Source",
    "Basics | Use Birth Matte | Birt | Numb | INP_Control=ChBC INP_CtlFlag02=0",
    "Basics | Bubble Type | Shap | Numb | INP_Control=ComC INP_ComboItem=Assorted "
    "INP_ComboItem=Shrinking INP_ComboItem=Variable Growth INP_ComboItem=Linear Growth",
    "Basics | Bubble Size | Size | Numb | INP_Control=SliC INP_MinAllowed=1 INP_Default=10 "
    "INP_MaxScale=40",
    "Basics | Bubble Size Variance | SzVa | Numb | INP_Control=SliC INP_MinAllowed=0 "
    "INP_Default=4 INP_MaxScale=100",
    "Basics | Time to Maximum Size | ToMa | Numb | INP_Control=SliC INP_MinAllowed=1 "
    "INP_Default=25 INP_MaxScale=500",
    "Burst | Bubbles Burst | Dobu | Numb | INP_Control=ChBC INP_CtlFlag02=0",
    "Burst | Burst Probability | BPro | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=50 "
    "INP_MaxScale=100",
    "Burst | Burst Quantity | BQty | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=100 "
    "INP_MaxScale=100",
    "Burst | Burst Radius | BRad | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=10 "
    "INP_MaxScale=100",
    "Burst | Burst Afterlife | BLif | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=6 "
    "INP_MaxScale=100",
    "Gather | Bubbles Gather | Gath | Numb | INP_Control=ChBC INP_CtlFlag02=0",
    "Gather | Gather Slowup | Slow | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=80 "
    "INP_MaxScale=100",
    "Forces | Initial Velocity | InVe | Numb | INP_Control=SliC INP_MinAllowed=-20 INP_Default=3 "
    "INP_MaxScale=20",
    "Forces | Velocity Direction | VelD | Numb | INP_Control=SliC INP_MinAllowed=0 "
    "INP_Default=90 INP_MaxScale=360",
    "Forces | Velocity Variance | VelV | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=0 "
    "INP_MaxScale=200",
    "Forces | Gravity | Grav | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=20 "
    "INP_MaxScale=100",
    "Forces | Gravity Angle | GrAn | Numb | INP_Control=ScrC INP_MinScale=-360 INP_Default=90 "
    "INP_MaxScale=360",
    "Forces | Swirl Density | SwiD | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=60 "
    "INP_MaxScale=100",
    "Forces | Swirl Magnitude | SwiA | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=1 "
    "INP_MaxScale=100",
    "Forces | Swirl Time to Maximum | SwTM | Numb | INP_Control=SliC INP_MinAllowed=0 "
    "INP_Default=0 INP_MaxScale=100",
    "Forces | Friction | Fric | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=0 "
    "INP_MaxScale=100",
    "Forces | Wind Speed | Wind | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=0 "
    "INP_MaxScale=100",
    "Forces | XY Wind Source | WSou | Poin | INP_Control=OffC INP_PreviewControl=PntC "
    "INP_DefaultX=0.9 INP_DefaultY=0.7 INP_Link=XY Wind Target",
    "Forces | XY Wind Target | WDes | Poin | INP_Control=OffC INP_PreviewControl=PntC "
    "INP_DefaultX=0.7 INP_DefaultY=0.7 INP_Link=XY Wind Source",
    "Forces | Wind Spread | Spre | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=30 "
    "INP_MaxScale=180",
    "Light | Light Red | LRed | Numb | INP_GroupName=Light Color INP_Control=ColC "
    "INP_ColorGroup=1 INP_ColorChannel=0 INP_MinAllowed=0 INP_MaxAllowed=1 INP_Default=0.5",
    "Light | Light Green | LGre | Numb | INP_GroupName=Light Color INP_Control=ColC "
    "INP_ColorGroup=1 INP_ColorChannel=1 INP_MinAllowed=0 INP_MaxAllowed=1 INP_Default=0.5",
    "Light | Light Blue | LBlu | Numb | INP_GroupName=Light Color INP_Control=ColC "
    "INP_ColorGroup=1 INP_ColorChannel=2 INP_MinAllowed=0 INP_MaxAllowed=1 INP_Default=0.5",
    "Light | Light Brightness | LBri | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=100 "
    "INP_MaxScale=500",
    "Light | XY Light Source | Sour | Poin | INP_Control=OffC INP_PreviewControl=PntC "
    "INP_DefaultX=0.2 INP_DefaultY=0.2 INP_Link=XY Light Target",
    "Light | XY Light Target | Dest | Poin | INP_Control=OffC INP_PreviewControl=PntC "
    "INP_DefaultX=0.4 INP_DefaultY=0.4 INP_Link=XY Light Source",
    "Light | 3D Light Z Position | LZSo | Numb | INP_Control=SliC INP_MinAllowed=0 "
    "INP_Default=0.5 INP_MaxScale=1",
    "Light | Light Spread | LSpr | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=90 "
    "INP_MaxScale=180",
    "Light | Light Glisten | LGli | Numb | INP_Control=SliC INP_MinAllowed=0 INP_Default=10 "
    "INP_MaxScale=100",
    "Color | Bubble Red | BRed | Numb | INP_GroupName=Bubble Color INP_Control=ColC "
    "INP_ColorGroup=2 INP_ColorChannel=0 INP_MinAllowed=0 INP_MaxAllowed=1 INP_Default=0.1",
    "Color | Bubble Green | BGre | Numb | INP_GroupName=Bubble Color INP_Control=ColC "
    "INP_ColorGroup=2 INP_ColorChannel=1 INP_MinAllowed=0 INP_MaxAllowed=1 INP_Default=0.1",
    "Color | Bubble Blue | BBlu | Numb | INP_GroupName=Bubble Color INP_Control=ColC "
    "INP_ColorGroup=2 INP_ColorChannel=2 INP_MinAllowed=0 INP_MaxAllowed=1 INP_Default=0.1",
    "Color | Bubble Color Variance | ColV | Numb | INP_Control=SliC INP_MinAllowed=0 "
    "INP_Default=0 INP_MaxScale=100",
    "Color | Bubble Monochrome Variance | Mono | Numb | INP_Control=SliC INP_MinAllowed=0 "
    "INP_Default=0 INP_MaxScale=100",
    "Color | Minimum Brightness | Ambi | Numb | INP_Control=SliC INP_MinAllowed=0 "
    "INP_Default=60 INP_MaxScale=100",
    "Color | Shine | Shin | Numb | INP_Control=SliC INP_MinAllowed=1 INP_Default=45 "
    "INP_MaxScale=200",
    "Color | Shine Highlight | High | Numb | INP_Control=SliC INP_MinAllowed=1 INP_Default=10 "
    "INP_MaxScale=200",
    "Color | Reflections | Refl | Numb | INP_Control=ChBC INP_CtlFlag02=0",
    "Color | Reflection Intensity | Inte | Numb | INP_Control=SliC INP_MinAllowed=0 "
    "INP_Default=50 INP_MaxScale=200",
    "Basics | Fade Mode | Fade | Numb | INP_Control=ComC INP_ComboItem=Color + Density "
    "INP_ComboItem=Color INP_ComboItem=Density",
    "Basics | Demos | Demo | Numb | INP_Control=ComC INP_ComboItem=NO CHANGE "
    "INP_ComboItem=Basic Bubbles INP_ComboItem=Soap Bubbles INP_ComboItem=Under Water "
    "INP_ComboItem=Champagne Bubbles INP_Flag01=0 INP_Notify=1",
    "- | Birth | 0x01706EC9 | Imag |",
    "- | Burst(optional) | 0x02706EC9 | Imag | INP_Required=0",
    "- | Reflection(optional) | 0x03706EC9 | Imag | INP_Required=0",
};

TEST_F(BubblesHost, DeclaresEveryControlAsDocumented) {
  OperatorPtr op = Create();
  ASSERT_TRUE(op);
  EXPECT_EQ(op->Pages(), (std::vector<std::string>{"Basics", "Burst", "Gather", "Forces", "Light",
                                                   "Color", "Basics"}));
  const std::vector<std::string> got = testsupport::DescribeInputs(*op);
  ASSERT_EQ(got.size(), kDocumented.size());
  for (size_t k = 0; k < got.size(); ++k) EXPECT_EQ(got[k], kDocumented[k]);
  EXPECT_EQ(op->Pages().at(size_t(op->FindInputByName("Demos")->Page())), "Basics");
  EXPECT_EQ(op->FindInputByName("Demos")->Page(), 6);
  EXPECT_TRUE(op->FindInputByName("Birth")->Required());
  EXPECT_FALSE(op->FindInputByName("Burst(optional)")->Required());
  ASSERT_EQ(op->Outputs().size(), 1u);
  EXPECT_EQ(op->Outputs()[0]->Id(), 0x017475CFu);
  EXPECT_EQ(op->Outputs()[0]->Name(), "Output");
  EXPECT_EQ(op->opMode, 2);
  EXPECT_EQ(op->opModeArg, 0);
  EXPECT_EQ(op->objFlags & 0x20u, 0x20u);
}

TEST_F(BubblesHost, SavesTheTrailerAndLoadsWhateverTrailerItFinds) {
  OperatorPtr op = Create();
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Lifetime", 77));
  std::vector<uint8_t> record;
  {
    CArchive out(&record);
    std::string error;
    ASSERT_TRUE(host.doc.SaveOperator(op.get(), out, &error)) << error;
  }
  ASSERT_GE(record.size(), 12u);
  const uint8_t tail[8] = {0, 0, 0, 0, 0x45, 0x6E, 0x64, 0x43};
  EXPECT_EQ(std::memcmp(record.data() + record.size() - 8, tail, 8), 0);
  const uint32_t id = 0x8001007D;
  EXPECT_EQ(std::memcmp(record.data(), &id, 4), 0);

  std::memset(record.data() + record.size() - 8, 0x5A, 8);  // other trailer words
  CArchive in(record.data(), record.size());
  std::string error;
  OperatorPtr loaded = host.doc.LoadOperator(in, &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->FindInputByName("Lifetime")->NumberAt(0), 77);
}

TEST_F(BubblesHost, OptionalImagesOfAnotherSizeGiveTheMismatchPattern) {
  OperatorPtr op = Create();
  const Pixels birth = Plate(100, 50, 0), reflection = Plate(100, 50, 0), burst = Plate(100, 51, 0);
  const Pixels out = PluginHost::Render(
      *op, {{"Birth", &birth}, {"Burst(optional)", &burst}, {"Reflection(optional)", &reflection}},
      0, 2);
  ASSERT_EQ(out.width, 100);
  // Dark grey ground, the red band starting at columns 0..9 of the first row.
  EXPECT_EQ(out.bytes[9 * 4 + 2], 255);
  EXPECT_EQ(out.bytes[10 * 4 + 2], 60);
  EXPECT_EQ(out.bytes[10 * 4 + 0], 60);
}

TEST_F(BubblesHost, FramesAreTheSameForEveryWorkerCount) {
  const Pixels birth = Plate(96, 64, 255);
  std::vector<Pixels> frames[2];
  const int workers[2] = {1, 7};
  for (int k = 0; k < 2; ++k) {
    OperatorPtr op = Create();
    ASSERT_TRUE(PluginHost::SetNumber(*op, "Bubble Size", 30));
    ASSERT_TRUE(PluginHost::SetNumber(*op, "Demos", 1));  // "Basic Bubbles"
    ASSERT_TRUE(PluginHost::SetNumber(*op, "Preroll Bubbles", 1));
    for (double time : {0, 1, 2, 2})
      frames[k].push_back(PluginHost::Render(*op, {{"Birth", &birth}}, time, workers[k]));
  }
  bool drewSomething = false;
  for (int frame = 0; frame < 4; ++frame) {
    ASSERT_EQ(frames[0][frame].width, 96);
    EXPECT_TRUE(frames[0][frame] == frames[1][frame]) << "frame " << frame;
    for (size_t i = 3; i < frames[0][frame].bytes.size(); i += 4)
      drewSomething |= frames[0][frame].bytes[i] != 0;
  }
  EXPECT_TRUE(drewSomething);
  // Frame 2 rendered again is the next step: another picture.
  EXPECT_FALSE(frames[0][2] == frames[0][3]);
}

// Typed values far beyond the sliders send bubbles far outside the frame and
// make sizes and counts huge: every frame still comes out, without undefined
// behaviour (the sanitizer runs check that).
TEST_F(BubblesHost, HugeTypedValuesStillGiveFrames) {
  OperatorPtr op = Create();
  for (const char* caption :
       {"Initial Velocity", "Velocity Variance", "Gravity", "Swirl Magnitude", "Wind Speed",
        "Bubble Size", "Bubble Size Variance", "Time to Maximum Size", "Lifetime",
        "Position Radius", "Burst Radius", "Burst Afterlife", "Gather Slowup", "Friction",
        "Light Brightness", "Shine", "Light Glisten", "Reflection Intensity"})
    ASSERT_TRUE(PluginHost::SetNumber(*op, caption, 1e300)) << caption;
  for (const char* check : {"Bubbles Burst", "Bubbles Gather", "Reflections"})
    ASSERT_TRUE(PluginHost::SetNumber(*op, check, 1));
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Bubble Type", 2));
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Preroll Frames", 3));
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Preroll Bubbles", 1));
  ASSERT_TRUE(PluginHost::SetPoint(*op, "XY Right Source", 1e6f, -1e6f));
  const Pixels birth = Plate(40, 30, 255), region = Plate(40, 30, 200);
  for (int frame = 0; frame < 3; ++frame) {
    const Pixels out = PluginHost::Render(
        *op, {{"Birth", &birth}, {"Burst(optional)", &region}, {"Reflection(optional)", &birth}},
        frame, 3);
    EXPECT_EQ(out.width, 40) << frame;
    ASSERT_TRUE(PluginHost::SetNumber(*op, "Bubble Type", frame));
  }
}

TEST_F(BubblesHost, ACancelledFrameDeliversNothing) {
  OperatorPtr op = Create();
  const Pixels birth = Plate(32, 32, 0);
  op->abortFlag = 1;
  EXPECT_TRUE(PluginHost::Render(*op, {{"Birth", &birth}}, 0, 2).bytes.empty());
  op->abortFlag = 0;
  EXPECT_EQ(PluginHost::Render(*op, {{"Birth", &birth}}, 0, 2).width, 32);
}

}  // namespace

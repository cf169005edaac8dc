// The contract every tool keeps with the host, checked for each built plug-in
// against the values written out in tools.cpp: its registration, its declared
// inputs and their defaults, reset, the saved record, the size-mismatch
// pattern, cancelling, and bytes that do not depend on the worker count.
#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/contract/tools.h"
#include "tests/support/declarations.h"

namespace contract {
namespace {

using namespace df;
using testsupport::Pixels;
using testsupport::PluginHost;
using States = std::map<std::string, ValueState>;
using Shown = std::map<std::string, std::vector<double>>;

// "... KEY=1.5 ..." in a declaration line: the number, or `otherwise`.
double TagValue(const std::string& line, const std::string& key, double otherwise = 0) {
  const size_t at = line.find(" " + key + "=");
  return at == std::string::npos ? otherwise
                                 : std::strtod(line.c_str() + at + key.size() + 2, nullptr);
}
std::string Caption(const std::string& line) {
  const size_t a = line.find(" | ") + 3;
  return line.substr(a, line.find(" | ", a) - a);
}
bool IsImageLine(const std::string& line) {
  return line.rfind("- | ", 0) == 0;
}
bool IsPointLine(const std::string& line) {
  return line.find(" | Poin |") != std::string::npos;
}

class ToolContract : public ::testing::TestWithParam<Tool> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.Load(GetParam().library, GetParam().className, &error)) << error;
  }
  OperatorPtr Create() {
    OperatorPtr op = host.Create();
    EXPECT_TRUE(op);
    return op;
  }
  static States Values(const Operator& op) {
    States s;
    for (const auto& in : op.Inputs())
      if (!in->IsImage()) s[in->Name()] = in->State();
    return s;
  }
  // Every control's value at time 0: a number, or a point as two.
  static Shown Show(const Operator& op) {
    Shown v;
    for (const auto& in : op.Inputs()) {
      if (in->IsImage()) continue;
      float x, y;
      if (in->ValueType() == kTypePoint)
        in->PointAt(0, x, y), v[in->Name()] = {x, y};
      else
        v[in->Name()] = {in->NumberAt(0)};
    }
    return v;
  }
  // What a fresh operator must show, from the written declarations.
  Shown Defaults() const {
    Shown v;
    for (const std::string& line : GetParam().declarations) {
      if (IsImageLine(line)) continue;
      if (IsPointLine(line))
        v[Caption(line)] = {float(TagValue(line, "INP_DefaultX")),
                            float(TagValue(line, "INP_DefaultY"))};
      else
        v[Caption(line)] = {TagValue(line, "INP_Default")};
    }
    return v;
  }
  // Moves every control off its default, without notification.
  static void Scramble(Operator& op) {
    for (const auto& in : op.Inputs()) {
      if (in->IsImage()) continue;
      if (in->ValueType() == kTypePoint) {
        df::Point p(0.31f, 0.62f);
        ASSERT_EQ(in->SetValue(&p, 0, 0), 1u) << in->Name();
        continue;
      }
      const double def = in->DefaultState().constant[0];
      double v = in->ComboItems().empty() ? (in->MaxAllowed().value_or(2) <= 1 ? 0.5 : 3) : 2;
      if (v == def) v /= 2;
      Number n(v);
      ASSERT_EQ(in->SetValue(&n, 0, 0), 1u) << in->Name();
    }
  }
  // Every image input at w x h with a picture of its own, `odd` at `oddW` x `oddH`.
  Pixels RenderWith(Operator& op, int w, int h, const std::string& odd = "", int oddW = 0,
                    int oddH = 0) {
    std::vector<Pixels> pictures;
    std::vector<std::pair<std::string, const Pixels*>> images;
    pictures.reserve(op.Inputs().size());
    for (const auto& in : op.Inputs()) {
      if (!in->IsImage()) continue;
      const bool isOdd = in->Name() == odd;
      pictures.emplace_back();
      Picture(GetParam().name, "noise:" + std::to_string(images.size() + 1), isOdd ? oddW : w,
              isOdd ? oddH : h, &pictures.back());
      images.push_back({in->Name(), &pictures.back()});
    }
    return PluginHost::Render(op, images, 0, 2);
  }

  PluginHost host;
};

TEST_P(ToolContract, RegistersItsRecordInTagOrder) {
  const Registration& reg = GetParam().registration;
  Registry* r = host.registry;
  const std::vector<uint32_t> order = {
      REG_InitFunc, REG_CleanupFunc, REG_CreateFunc,  REG_ClassID, REG_OpType,   REG_TileBitmap,
      REG_PackName, REG_ShortName,   REG_Description, REG_Name,    REG_HelpFile, REG_ToolCode};
  ASSERT_EQ(r->Tags().Size(), order.size());
  for (size_t k = 0; k < order.size(); ++k) EXPECT_EQ(r->Tags().Items()[k].tag, order[k]) << k;
  EXPECT_EQ(r->ClassID(), reg.classId);
  EXPECT_EQ(r->OpType(), 3);
  EXPECT_EQ(r->TileBitmap(), 101);
  EXPECT_EQ(r->PackName(), reg.packName);
  EXPECT_EQ(r->ShortName(), reg.shortName);
  EXPECT_EQ(r->Description(), reg.description);
  EXPECT_EQ(r->Name(), reg.name);
  EXPECT_EQ(r->HelpFile(), reg.helpFile);
  EXPECT_EQ(r->ToolCode(), reg.toolCode);
  // Tile: a 116 x 87, 32 bits per pixel, uncompressed bitmap.
  const Resource* tile = r->FindResource(101);
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

TEST_P(ToolContract, DeclaresEveryInputAsDocumented) {
  const Tool& t = GetParam();
  OperatorPtr op = Create();
  ASSERT_TRUE(op);
  EXPECT_EQ(op->Pages(), t.pages);
  const std::vector<std::string> got = testsupport::DescribeInputs(*op);
  ASSERT_EQ(got.size(), t.declarations.size());
  int page = 0;
  for (size_t k = 0; k < got.size(); ++k) {
    const std::string& want = t.declarations[k];
    EXPECT_EQ(got[k], want);
    const Input& in = *op->Inputs()[k];
    // Pages are declared in turn: a repeated page name is the later page.
    EXPECT_GE(in.IsImage() ? page : in.Page(), page) << want;
    page = std::max(page, in.Page());
    EXPECT_EQ(in.Notifies(), want.find("INP_Notify=1") != std::string::npos) << want;
    EXPECT_EQ(in.IsImage() && !in.Required(), want.find("INP_Required=0") != std::string::npos);
    const size_t link = want.find("INP_Link=") + 9, end = want.find(" INP_", link);
    EXPECT_EQ(in.Link(), link < 9 ? nullptr : op->FindInputByName(want.substr(link, end - link)))
        << want;
  }
  ASSERT_EQ(op->Outputs().size(), 1u);
  EXPECT_EQ(op->Outputs()[0]->Id(), 0x017475CFu);
  EXPECT_EQ(op->Outputs()[0]->Name(), "Output");
  EXPECT_EQ(op->opMode, 2);
  EXPECT_EQ(op->opModeArg, 0);
  EXPECT_EQ(op->objFlags & 0x20u, t.sequential ? 0x20u : 0u);
}

TEST_P(ToolContract, AFreshOperatorShowsTheDefaults) {
  OperatorPtr op = Create();
  ASSERT_TRUE(op);
  EXPECT_EQ(Show(*op), Defaults());
}

TEST_P(ToolContract, ResetRestoresEveryDefaultInOneUndoStepAndNothingWhenGuarded) {
  const Tool& t = GetParam();
  OperatorPtr op = Create();
  ASSERT_TRUE(op);
  CPipelineDoc& doc = host.doc;
  Scramble(*op);
  const States scrambled = Values(*op);
  const Shown defaults = Defaults();
  for (const auto& [caption, v] : Show(*op)) ASSERT_NE(v, defaults.at(caption)) << caption;
  const size_t steps = doc.UndoCount();

  doc.notifyGuard = 1;
  op->NotifyChanged(nullptr, nullptr, 0);
  doc.notifyGuard = 0;
  EXPECT_EQ(doc.UndoCount(), steps);
  EXPECT_EQ(Values(*op), scrambled);

  op->NotifyChanged(nullptr, nullptr, 0);
  if (!t.resetCaption) {
    EXPECT_EQ(doc.UndoCount(), steps);
    EXPECT_EQ(Values(*op), scrambled);
    return;
  }
  EXPECT_EQ(doc.UndoCount(), steps + 1);
  EXPECT_EQ(doc.UndoCaption(), t.resetCaption);
  EXPECT_EQ(doc.UndoChangeCount(), t.resetChanges);
  EXPECT_EQ(Show(*op), defaults);
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(Values(*op), scrambled);
}

TEST_P(ToolContract, SavedRecordCarriesTheClassIdAndTrailerAndLoadsWhateverTrailerItFinds) {
  OperatorPtr op = Create();
  ASSERT_TRUE(op);
  Scramble(*op);
  std::vector<uint8_t> record;
  {
    CArchive out(&record);
    std::string error;
    ASSERT_TRUE(host.doc.SaveOperator(op.get(), out, &error)) << error;
  }
  ASSERT_GE(record.size(), 12u);
  const uint32_t id = GetParam().registration.classId;
  const uint8_t idBytes[4] = {uint8_t(id), uint8_t(id >> 8), uint8_t(id >> 16), uint8_t(id >> 24)};
  EXPECT_EQ(std::memcmp(record.data(), idBytes, 4), 0);
  const uint8_t trailer[8] = {0, 0, 0, 0, 0x45, 0x6E, 0x64, 0x43};
  EXPECT_EQ(std::memcmp(record.data() + record.size() - 8, trailer, 8), 0);
  for (int pass = 0; pass < 2; ++pass) {
    if (pass) std::memset(record.data() + record.size() - 8, 0x5A, 8);  // other trailer words
    CArchive in(record.data(), record.size());
    std::string error;
    OperatorPtr loaded = host.doc.LoadOperator(in, &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(Values(*loaded), Values(*op)) << "pass " << pass;
  }
}

// The pattern drawn instead of a frame whose images disagree in size.
Pixels MismatchPattern(int w, int h) {
  Pixels p{w, h, std::vector<uint8_t>(size_t(w) * h * 4, 60)};
  float c = 0;
  for (int y = 0; y < h; ++y, c += float(w) / float(h))
    for (int x = int(c) - 10; x < int(c) + 10; ++x)
      if (x >= 0 && x < w)
        p.bytes[(size_t(y) * w + x) * 4 + 2] = p.bytes[(size_t(y) * w + x) * 4 + 3] = 255;
  return p;
}

TEST_P(ToolContract, OptionalImagesOfAnotherSizeGiveTheMismatchPattern) {
  // The pattern itself: the band starts at columns 0..9, moves w / h a row.
  auto red = [](const Pixels& p, int x, int y) {
    const uint8_t* px = &p.bytes[(size_t(y) * p.width + x) * 4];
    return px[0] == 60 && px[1] == 60 && px[2] == 255 && px[3] == 255;
  };
  const Pixels wide = MismatchPattern(100, 50), odd = MismatchPattern(64, 48);
  EXPECT_TRUE(red(wide, 9, 0) && !red(wide, 10, 0) && red(wide, 11, 1) && !red(wide, 12, 1));
  EXPECT_TRUE(red(odd, 0, 0) && red(odd, 9, 0) && !red(odd, 10, 0));
  EXPECT_TRUE(red(odd, 13, 3) && !red(odd, 14, 3) && red(odd, 63, 47));
  EXPECT_EQ(odd.bytes[10 * 4 + 3], 60);

  // Every optional image in turn one row or one column off; images of one
  // size never give the pattern.
  OperatorPtr op = Create();
  ASSERT_TRUE(op);
  for (auto [w, h] : {std::pair{100, 50}, std::pair{64, 48}}) {
    EXPECT_NE(RenderWith(*op, w, h), MismatchPattern(w, h));
    for (const auto& in : op->Inputs()) {
      if (!in->IsImage() || in->Required()) continue;
      EXPECT_EQ(RenderWith(*op, w, h, in->Name(), w, h + 1), MismatchPattern(w, h)) << in->Name();
      EXPECT_EQ(RenderWith(*op, w, h, in->Name(), w + 1, h), MismatchPattern(w, h)) << in->Name();
    }
  }
}

TEST_P(ToolContract, ACancelledFrameDeliversNothing) {
  OperatorPtr op = Create();
  ASSERT_TRUE(op);
  op->abortFlag = 1;
  EXPECT_TRUE(RenderWith(*op, 40, 30).bytes.empty());
  op->abortFlag = 0;
  EXPECT_EQ(RenderWith(*op, 40, 30).bytes.size(), 40u * 30 * 4);
  // Without its main image nothing is delivered either.
  EXPECT_TRUE(PluginHost::Render(*op, {}, 0, 2).bytes.empty());
}

TEST_P(ToolContract, BytesDoNotDependOnTheWorkerCount) {
  const Tool& t = GetParam();
  for (size_t s = 0; s < t.scenes.size(); ++s) {
    const Scene& scene = t.scenes[s];
    SCOPED_TRACE("scene " + std::to_string(s));
    std::vector<Pixels> pictures(scene.images.size());
    std::vector<std::pair<std::string, const Pixels*>> images;
    for (size_t i = 0; i < scene.images.size(); ++i) {
      ASSERT_TRUE(Picture(t.name, scene.images[i].second, scene.width, scene.height, &pictures[i]));
      images.push_back({scene.images[i].first, &pictures[i]});
    }
    std::vector<Pixels> first;
    for (int workers : {1, 3, 7, 16, 200}) {
      OperatorPtr op = Create();
      ASSERT_TRUE(op);
      for (const auto& [caption, value] : scene.sets)
        ASSERT_TRUE(PluginHost::Set(*op, caption, value)) << caption;
      std::vector<Pixels> frames;
      for (double time : scene.times) {
        frames.push_back(PluginHost::Render(*op, images, time, workers));
        ASSERT_EQ(frames.back().bytes.size(), size_t(scene.width) * scene.height * 4);
      }
      if (first.empty())
        first = frames;
      else
        for (size_t f = 0; f < frames.size(); ++f)
          EXPECT_TRUE(frames[f] == first[f]) << "frame " << f << ", " << workers << " workers";
    }
    int changed = 0;
    const std::vector<uint8_t>& in = pictures[0].bytes;
    for (size_t k = 3; k < in.size(); k += 4) changed += first.back().bytes[k] != in[k];
    EXPECT_GT(changed, scene.alphaChangedAbove);
  }
}

// The runtime keeps released image memory for the next image of its size,
// and a tool that writes every pixel takes its output unwritten: whatever
// that memory held, the frame's bytes are the tool's.
TEST_P(ToolContract, EveryPixelIsTheToolsWhateverTheMemoryHeld) {
  const Tool& t = GetParam();
  const Scene& scene = t.scenes[0];
  constexpr int kW = 640, kH = 480;  // big enough for its memory to be kept
  std::vector<Pixels> pictures(scene.images.size());
  std::vector<std::pair<std::string, const Pixels*>> images;
  for (size_t i = 0; i < scene.images.size(); ++i) {
    ASSERT_TRUE(Picture(t.name, scene.images[i].second, kW, kH, &pictures[i]));
    images.push_back({scene.images[i].first, &pictures[i]});
  }
  auto render = [&](uint8_t held) {
    // Memory of the frame's size, released holding `held`, for every image
    // the render makes.
    std::vector<Image*> dirty;
    for (int i = 0; i < 4; ++i) {
      dirty.push_back(Image::Create(kW, kH, 1.0, Image::Contents::kUnwritten));
      std::memset(dirty.back()->Data(), held, dirty.back()->ByteCount());
    }
    for (Image* image : dirty) image->Recycle();
    OperatorPtr op = Create();
    for (const auto& [caption, value] : scene.sets)
      EXPECT_TRUE(PluginHost::Set(*op, caption, value));
    std::vector<Pixels> frames;
    for (double time : scene.times) frames.push_back(PluginHost::Render(*op, images, time, 3));
    return frames;
  };
  const std::vector<Pixels> clean = render(0), held = render(0xA5);
  ASSERT_EQ(clean.size(), held.size());
  for (size_t f = 0; f < clean.size(); ++f) EXPECT_TRUE(clean[f] == held[f]) << "frame " << f;
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolContract, ::testing::ValuesIn(Tools()),
                         [](const ::testing::TestParamInfo<Tool>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace contract

// Flows in process: the file's checks, a tool node's record through the
// text, the Merge node's pixels, how often each node renders, and the frame
// cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "controls_model.h"
#include "default_images.h"
#include "flow/flow_file.h"
#include "flow/flow_render.h"
#include "flow/frame_cache.h"
#include "flow/merge.h"
#include "flow/tool_record.h"
#include "host.h"
#include "image_io.h"

namespace vorn::flow {
namespace {

class FlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    PluginSearch search;
    search.folders = {TOOL_PLUGIN_FOLDER};
    search.origin = "--plugins";
    ASSERT_TRUE(host_.LoadPlugins(search, true, &error)) << error;
  }
  df::OperatorPtr Make(const std::string& tool) {
    std::string error;
    df::Registry* r = host_.FindTool(tool, &error);
    EXPECT_TRUE(r) << error;
    return r ? host_.Doc().CreateOperator(r, &error) : nullptr;
  }
  Node ToolNode(const std::string& name, const std::string& tool) {
    Node node;
    node.name = name;
    node.op = Make(tool);
    return node;
  }
  static Node HostNode(const std::string& name, NodeKind kind) {
    Node node;
    node.name = name;
    node.kind = kind;
    node.write.file = "out.#.png";
    return node;
  }
  Host host_;
};

// A flow text around the given nodes and connections.
std::string FlowJson(const std::string& nodes, const std::string& connections = "") {
  return R"({"format": "vorn flow", "version": 1, "shot": {"first": 1, "last": 4}, "nodes": [)" +
         nodes + R"(], "connections": [)" + connections + "]}";
}

TEST_F(FlowTest, MalformedFilesAreRefusedNamingThePlace) {
  const std::string merge1 = R"({"name": "M1", "class": "Merge"})";
  const std::string merge2 = R"({"name": "M2", "class": "Merge"})";
  std::string manyNodes;
  for (int i = 0; i <= 1000; ++i)
    manyNodes += (i ? "," : "") + std::string(R"({"name": "N)") + std::to_string(i) +
                 R"(", "class": "Merge"})";
  const struct {
    std::string text, expected;
  } cases[] = {
      {R"({"format": "vorn flow",)"
       "\n"
       R"(  "version": 1,,})",
       "line 2, column 16: not valid JSON"},
      {"[1, 2]", "a flow file holds one JSON object"},
      {R"({"format": "other", "version": 1, "nodes": []})", "\"format\" is \"other\""},
      {R"({"format": "vorn flow", "version": 7, "nodes": []})", "format version 7"},
      {R"({"format": "vorn flow", "version": 1, "nodes": [], "extra": 1})",
       "unknown member \"extra\""},
      {FlowJson(R"({"name": "Glow", "class": "Sparkles"})"),
       "nodes[0] \"Glow\": unknown class \"Sparkles\""},
      {FlowJson(merge1 + "," + R"({"name": "Out", "class": "Write", "file": "a.png"})",
                R"({"from": "M1", "to": "Out", "input": "Picture"})"),
       "connections[0]: \"Out\" (Write) has no image input \"Picture\"; its inputs: \"Image\""},
      {FlowJson(
           merge1 + "," + merge2,
           R"({"from": "M1", "to": "M2", "input": "A"}, {"from": "M2", "to": "M1", "input": "B"})"),
       "connections[1]: connecting \"M2\" to \"M1\" input \"B\" would close a loop: \"M2\" -> "
       "\"M1\" -> \"M2\""},
      {FlowJson(merge1 + "," + merge1), "nodes[1]: there is already a node named \"M1\""},
      {FlowJson(merge1, R"({"from": "M0", "to": "M1", "input": "A"})"),
       "connections[0]: no node is named \"M0\""},
      {FlowJson(
           merge1 + "," + merge2,
           R"({"from": "M1", "to": "M2", "input": "A"}, {"from": "M1", "to": "M2", "input": "A"})"),
       "connections[1]: \"M2\" input \"A\" is connected twice"},
      {FlowJson(manyNodes), "1001 nodes; a flow holds at most 1000"},
      {std::string(100, '[') + std::string(100, ']'), "nested deeper than 32 levels"},
      {FlowJson(R"({"name": "Warp", "class": "Bleb", "values": {"Wobble": 1}})"),
       "nodes[0] \"Warp\": values: \"Wobble\" is not a control of \"Bleb\""},
      {FlowJson(R"({"name": "Warp", "class": "Bleb", "values": {"Amplitude 1": "big"}})"),
       "\"Amplitude 1\": expected a number"},
      {FlowJson(R"({"name": "Warp", "class": "Bleb", "values": {"Amplitude 1": {"keys": [)"
                R"({"frame": 5, "value": 1}, {"frame": 2, "value": 0}]}}})"),
       "\"Amplitude 1\": keys[1]: frames must increase"},
      {FlowJson(R"({"name": "M", "class": "Merge", "mix": 2})"),
       "nodes[0] \"M\": \"mix\" must be a number from 0 to 1"},
      {FlowJson(R"({"name": "M", "class": "Merge", "operation": "atop"})"),
       "\"operation\" must be"},
      {FlowJson(R"({"name": "R", "class": "Read"})"), "nodes[0] \"R\": member \"file\""},
      {R"({"format": "vorn flow", "version": 1, "shot": {"first": 9, "last": 2}, "nodes": []})",
       "shot: \"last\" (2) is before \"first\" (9)"},
      {R"({"format": "vorn flow", "version": 1, "shot": {"first": 0, "last": 2000000000}, "nodes": []})",
       "more than 1000000 frames"},
  };
  for (const auto& c : cases) {
    Flow flow;
    std::string error;
    EXPECT_FALSE(ParseFlow(host_, c.text, "f.json", &flow, &error)) << c.expected;
    EXPECT_NE(error.find("f.json: "), std::string::npos) << error;
    EXPECT_NE(error.find(c.expected), std::string::npos)
        << "expected: " << c.expected << "\n     got: " << error;
  }
}

TEST_F(FlowTest, ConnectionsThatCloseALoopAreRefusedAndTheFlowIsUnchanged) {
  Flow flow;
  std::string error;
  for (const char* name : {"A", "B", "C"})
    ASSERT_TRUE(flow.Add(HostNode(name, NodeKind::Merge), &error));
  ASSERT_TRUE(flow.Connect("A", "B", "B", &error)) << error;
  ASSERT_TRUE(flow.Connect("B", "C", "A", &error)) << error;
  EXPECT_FALSE(flow.Connect("C", "A", "B", &error));
  EXPECT_NE(error.find("\"C\" -> \"A\" -> \"B\" -> \"C\""), std::string::npos) << error;
  EXPECT_FALSE(flow.Connect("A", "A", "A", &error));
  EXPECT_EQ(flow.connections.size(), 2u);
  // Renaming keeps the connections; the order puts sources first.
  ASSERT_TRUE(flow.Rename("B", "Middle", &error)) << error;
  EXPECT_FALSE(flow.Rename("A", "C", &error));
  EXPECT_EQ(flow.Source(*flow.Find("C"), "A"), flow.Find("Middle"));
  EXPECT_EQ(flow.Order(), (std::vector<size_t>{0, 1, 2}));
}

TEST_F(FlowTest, EachToolsRecordComesBackByteExactThroughTheText) {
  for (const char* tool : {"Bubbles", "Candle", "Bleb"}) {
    SCOPED_TRACE(tool);
    df::OperatorPtr op = Make(tool);
    ASSERT_TRUE(op);
    // Change every control: keys on numbers, a moved constant on points.
    for (df::Input* input : ControlInputs(*op)) {
      df::ValueState s = input->State();
      if (input->ValueType() == df::kTypeNumber) {
        s.animated = true;
        s.keys = {{-2.5, {s.constant[0], 0}}, {7, {s.constant[0] * 0.5 + 0.1, 0}}};
      } else if (input->ValueType() == df::kTypePoint) {
        s.constant[0] = double(float(0.1 + s.constant[0] / 3));
        s.constant[1] = double(float(0.3));
      }
      input->RestoreState(s);
    }
    std::vector<uint8_t> before, after;
    std::string error, text;
    ASSERT_TRUE(SavedRecordBytes(host_, *op, &before, &error)) << error;
    Flow flow;
    Node node;
    node.name = "Node";
    node.op = std::move(op);
    flow.nodes.push_back(std::move(node));
    ASSERT_TRUE(FlowText(host_, flow, &text, &error)) << error;
    Flow back;
    ASSERT_TRUE(ParseFlow(host_, text, "f.json", &back, &error)) << error;
    ASSERT_EQ(back.nodes.size(), 1u);
    ASSERT_TRUE(SavedRecordBytes(host_, *back.nodes[0].op, &after, &error)) << error;
    EXPECT_EQ(before, after);
    // The text names every value by its caption.
    EXPECT_NE(text.find("\"values\""), std::string::npos);
  }
}

TEST_F(FlowTest, ASavedCompositionOfOneToolLoadsAsAFlowOfOneNode) {
  df::OperatorPtr op = Make("Bleb");
  ASSERT_TRUE(op);
  df::Input* amplitude = op->FindInputByName("Amplitude 1");
  ASSERT_TRUE(amplitude);
  df::ValueState s = amplitude->State();
  s.constant[0] = 1.75;
  amplitude->RestoreState(s);
  std::vector<uint8_t> bytes, loadedBytes;
  std::string error;
  ASSERT_TRUE(SavedRecordBytes(host_, *op, &bytes, &error)) << error;
  const std::string path =
      (std::filesystem::temp_directory_path() / ("vorn-flow-old-" + std::to_string(getpid())))
          .string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  Flow flow;
  const bool loaded = LoadFlow(host_, path, &flow, &error);
  std::filesystem::remove(path);
  ASSERT_TRUE(loaded) << error;
  ASSERT_EQ(flow.nodes.size(), 1u);
  EXPECT_EQ(flow.nodes[0].name, "Bleb");
  ASSERT_TRUE(SavedRecordBytes(host_, *flow.nodes[0].op, &loadedBytes, &error)) << error;
  EXPECT_EQ(bytes, loadedBytes);
}

TEST_F(FlowTest, MergeCombinesPremultipliedPixelsAndKeepsAdditiveLight) {
  // A half-covering orange pixel, and light with no coverage, over opaque grey.
  ImageRef a = NewImage(2, 1), b = NewImage(2, 1);
  const uint8_t pa[8] = {0, 64, 128, 128, 200, 0, 0, 0};
  const uint8_t pb[8] = {100, 100, 100, 255, 10, 10, 10, 255};
  std::copy(pa, pa + 8, a->Data());
  std::copy(pb, pb + 8, b->Data());
  // Expected values worked by hand: over = A + B (1 − αA); under = B + A (1 − αB);
  // plus = A + B; multiply = AB + A(1 − αB) + B(1 − αA); screen = A + B − AB.
  const struct {
    MergeOperation op;
    double mix;
    uint8_t expected[8];
  } cases[] = {
      {MergeOperation::Over, 1, {50, 114, 178, 255, 210, 10, 10, 255}},
      {MergeOperation::Under, 1, {100, 100, 100, 255, 10, 10, 10, 255}},
      {MergeOperation::Plus, 1, {100, 164, 228, 255, 210, 10, 10, 255}},
      {MergeOperation::Multiply, 1, {50, 75, 100, 255, 18, 10, 10, 255}},
      {MergeOperation::Screen, 1, {100, 139, 178, 255, 202, 10, 10, 255}},
      {MergeOperation::Over, 0.5, {75, 107, 139, 255, 110, 10, 10, 255}},
      {MergeOperation::Over, 0, {100, 100, 100, 255, 10, 10, 10, 255}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(MergeOperationName(c.op)) + " mix " + std::to_string(c.mix));
    ImageRef out = MergeImages({c.op, c.mix}, a.get(), *b);
    ASSERT_TRUE(out);
    EXPECT_EQ(std::vector<uint8_t>(out->Data(), out->Data() + 8),
              std::vector<uint8_t>(c.expected, c.expected + 8));
  }
  // With no A, or where A is smaller, B comes through.
  ImageRef alone = MergeImages({}, nullptr, *b);
  EXPECT_EQ(std::vector<uint8_t>(alone->Data(), alone->Data() + 8),
            std::vector<uint8_t>(pb, pb + 8));
}

TEST_F(FlowTest, MergeGivesTheSameBytesInAnyNumberOfBands) {
  // Pixels from a fixed pseudo-random sequence, A narrower and shorter than B.
  ImageRef a = NewImage(29, 23), b = NewImage(37, 31);
  uint32_t state = 12345;
  for (df::Image* image : {a.get(), b.get()})
    for (size_t i = 0; i < image->ByteCount(); ++i) {
      state = state * 1664525u + 1013904223u;
      image->Data()[i] = uint8_t(state >> 24);
    }
  for (MergeOperation op : {MergeOperation::Over, MergeOperation::Multiply, MergeOperation::Screen})
    for (double mix : {1.0, 0.3}) {
      ImageRef one = MergeImages({op, mix}, a.get(), *b, 1);
      ASSERT_TRUE(one);
      for (int bands : {2, 3, 16, 31, 500}) {
        ImageRef many = MergeImages({op, mix}, a.get(), *b, bands);
        ASSERT_TRUE(many);
        EXPECT_TRUE(std::equal(one->Data(), one->Data() + one->ByteCount(), many->Data()))
            << MergeOperationName(op) << " mix " << mix << ", " << bands << " bands";
      }
    }
}

TEST_F(FlowTest, ANodeReadTwiceRendersOncePerFrame) {
  // Warp feeds both inputs of a Merge; only what the Write needs renders.
  Flow flow;
  std::string error;
  ASSERT_TRUE(flow.Add(ToolNode("Warp", "Bleb"), &error));
  ASSERT_TRUE(flow.Add(ToolNode("Unused", "Candle"), &error));
  ASSERT_TRUE(flow.Add(HostNode("Screen", NodeKind::Merge), &error));
  ASSERT_TRUE(flow.Add(HostNode("Out", NodeKind::Write), &error));
  ASSERT_TRUE(flow.Connect("Warp", "Screen", "A", &error) &&
              flow.Connect("Warp", "Screen", "B", &error) &&
              flow.Connect("Screen", "Out", "Image", &error))
      << error;
  FlowRenderer renderer;
  const std::vector<int> frames = {1, 2, 3};
  ASSERT_TRUE(renderer.Prepare(
      flow, std::pair{32, 18}, [&](size_t) -> const std::vector<int>& { return frames; }, {},
      &error))
      << error;
  const std::vector<bool> wanted = flow.Upstream({3});
  for (int frame = 1; frame <= 3; ++frame)
    ASSERT_TRUE(renderer.Render(frame, wanted, &error)) << error;
  EXPECT_EQ(renderer.RenderCount(0), 3);
  EXPECT_EQ(renderer.RenderCount(1), 0);
  EXPECT_EQ(renderer.RenderCount(2), 3);
  ASSERT_TRUE(renderer.ImageOf(3));
  EXPECT_EQ(renderer.ImageOf(3)->width, 32);
}

TEST(FrameCache, KeepsTheMostRecentlyUsedFramesWithinItsBound) {
  auto key = [](int n) { return Digest().Int(n).Finish(); };
  ImageRef small = NewImage(4, 4), large = NewImage(8, 8);  // 64 and 256 bytes
  FrameCache cache(3 * 64);
  for (int n = 0; n < 3; ++n) cache.Put(key(n), small.get());
  EXPECT_TRUE(cache.Find(key(0)));  // 0 is now the most recent: 1 goes first
  cache.Put(key(3), small.get());
  EXPECT_FALSE(cache.Find(key(1)));
  for (int n : {0, 2, 3}) EXPECT_TRUE(cache.Find(key(n))) << n;
  cache.Put(key(4), large.get());  // larger than the bound: not kept, nothing evicted
  EXPECT_FALSE(cache.Find(key(4)));
  FrameCacheStats stats = cache.Stats();
  EXPECT_EQ(stats.frames, 3u);
  EXPECT_EQ(stats.bytes, 3u * 64);
  EXPECT_EQ(stats.evicted, 1u);
  EXPECT_EQ(stats.hits, 4u);
  EXPECT_EQ(stats.misses, 2u);
  // A held frame outlives its eviction while someone still uses it.
  ImageRef held = cache.Find(key(2));
  cache.SetMaxBytes(0);
  EXPECT_EQ(cache.Stats().bytes, 0u);
  EXPECT_EQ(cache.Stats().frames, 0u);
  ASSERT_TRUE(held);
  EXPECT_EQ(held->width, 4);
  // Pieces are digested with their lengths.
  EXPECT_FALSE(Digest().Text("ab").Text("c").Finish() == Digest().Text("a").Text("bc").Finish());
  EXPECT_FALSE(Digest().Int(1).Finish() == Digest().Int(1).Int(0).Finish());
}

// Plate → Flame (Merge over ← Candle) → Top (Merge over ← Bubbles): the
// cache renders only what a change reaches, and never changes the bytes.
class FlowCacheTest : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    plate_ = (std::filesystem::temp_directory_path() /
              ("vorn-flow-cache-" + std::to_string(getpid()) + ".png"))
                 .string();
    std::string error;
    ImageRef card = MakeTestCard(48, 27, 1.0);
    ASSERT_TRUE(card && WriteImage(*card, plate_, ImageFormat::Png, &error)) << error;
  }
  void TearDown() override { std::filesystem::remove(plate_); }

  // Node indices: 0 Plate, 1 Bubbles, 2 Candle, 3 Flame, 4 Top.
  std::unique_ptr<Flow> MakeFlow(double mix, double density) {
    auto flow = std::make_unique<Flow>();
    std::string error;
    Node plate = HostNode("Plate", NodeKind::Read);
    plate.read.file = plate_;
    Node top = HostNode("Top", NodeKind::Merge);
    top.merge.mix = mix;
    Node candle = ToolNode("Candle", "Candle");
    SetValue(*candle.op, "Flame Density", density);
    EXPECT_TRUE(
        flow->Add(std::move(plate), &error) && flow->Add(ToolNode("Bubbles", "Bubbles"), &error) &&
        flow->Add(std::move(candle), &error) &&
        flow->Add(HostNode("Flame", NodeKind::Merge), &error) &&
        flow->Add(std::move(top), &error) && flow->Connect("Candle", "Flame", "A", &error) &&
        flow->Connect("Plate", "Flame", "B", &error) &&
        flow->Connect("Bubbles", "Top", "A", &error) && flow->Connect("Flame", "Top", "B", &error))
        << error;
    flow->shot = {1, 8, 1};
    return flow;
  }
  static void SetValue(df::Operator& op, const std::string& caption, double value) {
    df::Input* input = op.FindInputByName(caption);
    ASSERT_TRUE(input) << caption;
    df::ValueState s = input->State();
    s.constant[0] = value;
    input->RestoreState(s);
  }
  bool Prepare(FlowRenderer& renderer, Flow& flow) {
    std::string error;
    const bool ok = renderer.Prepare(
        flow, std::nullopt, [&](size_t) -> const std::vector<int>& { return frames_; }, {}, &error);
    EXPECT_TRUE(ok) << error;
    renderer.SimulationsRestarted();  // its operators are new
    return ok;
  }
  static std::vector<uint8_t> Bytes(const df::Image* image) {
    return image ? std::vector<uint8_t>(image->Data(), image->Data() + image->ByteCount())
                 : std::vector<uint8_t>();
  }
  // Top's bytes at `last`, rendered without a cache, stepping from frame 1.
  std::vector<uint8_t> Uncached(double mix, double density, int last) {
    std::unique_ptr<Flow> flow = MakeFlow(mix, density);
    FlowRenderer renderer;
    if (!Prepare(renderer, *flow)) return {};
    renderer.SetCacheBytes(0);
    std::string error;
    for (int f = 1; f <= last; ++f) EXPECT_TRUE(renderer.Render(f, all_, &error)) << error;
    return Bytes(renderer.ImageOf(4));
  }
  std::vector<long> Counts(const FlowRenderer& renderer) {
    std::vector<long> counts;
    for (size_t i = 0; i < 5; ++i) counts.push_back(renderer.RenderCount(i));
    return counts;
  }

  std::string plate_;
  const std::vector<int> frames_ = {1, 2, 3, 4, 5, 6};
  const std::vector<bool> all_ = std::vector<bool>(5, true);
};

TEST_F(FlowCacheTest, AChangeRendersOnlyTheNodesItReachesAndKeepsTheBytes) {
  std::unique_ptr<Flow> flow = MakeFlow(1.0, 60);
  FlowRenderer renderer;
  ASSERT_TRUE(Prepare(renderer, *flow));
  std::string error;
  for (int f = 1; f <= 4; ++f) ASSERT_TRUE(renderer.Render(f, all_, &error)) << error;
  // The plate, one still file, is read once: its frame is the same at every frame.
  EXPECT_EQ(Counts(renderer), (std::vector<long>{1, 4, 4, 4, 4}));
  EXPECT_EQ(Bytes(renderer.ImageOf(4)), Uncached(1.0, 60, 4));

  // The Merge's mix: only the Merge renders; Bubbles is not stepped again.
  flow->nodes[4].merge.mix = 0.5;
  ASSERT_TRUE(renderer.Render(4, all_, &error)) << error;
  EXPECT_EQ(Counts(renderer), (std::vector<long>{1, 4, 4, 4, 5}));
  EXPECT_EQ(Bytes(renderer.ImageOf(4)), Uncached(0.5, 60, 4));

  // A Candle value: Candle and both Merges below it render.
  SetValue(*flow->nodes[2].op, "Flame Density", 30);
  ASSERT_TRUE(renderer.Render(4, all_, &error)) << error;
  EXPECT_EQ(Counts(renderer), (std::vector<long>{1, 4, 5, 5, 6}));
  const std::vector<uint8_t> changed = Uncached(0.5, 30, 4);
  EXPECT_EQ(Bytes(renderer.ImageOf(4)), changed);

  // Back to an earlier frame of the simulation: from the cache.
  ASSERT_TRUE(renderer.Render(2, all_, &error)) << error;
  EXPECT_EQ(renderer.RenderCount(1), 4);
  const std::vector<uint8_t> second = Uncached(0.5, 30, 2);
  EXPECT_NE(second, changed);  // the simulation moved between the two
  EXPECT_EQ(Bytes(renderer.ImageOf(4)), second);

  // A bound of two frames: frames are evicted, the bytes held stay within
  // it, and the frames that go on stepping keep their bytes.
  const size_t frameBytes = 48 * 27 * 4;
  renderer.SetCacheBytes(2 * frameBytes);
  EXPECT_LE(renderer.CacheStats().bytes, 2 * frameBytes);
  const uint64_t evicted = renderer.CacheStats().evicted;
  for (int f = 5; f <= 6; ++f) {
    ASSERT_TRUE(renderer.Render(f, all_, &error)) << error;
    EXPECT_LE(renderer.CacheStats().bytes, 2 * frameBytes);
    EXPECT_EQ(Bytes(renderer.ImageOf(4)), Uncached(0.5, 30, f)) << "frame " << f;
  }
  EXPECT_GT(renderer.CacheStats().evicted, evicted);
  EXPECT_EQ(renderer.RenderCount(1), 6);
  EXPECT_TRUE(renderer.Trusted(4));
}

}  // namespace
}  // namespace vorn::flow

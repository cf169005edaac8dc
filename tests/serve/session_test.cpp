// The page's actions as the tools see them: one undo step per user action,
// named by the tool where it names its own; resets; keys; frames that are
// those a render from the shot's start gives.
#include <fstream>
#include <iterator>
#include <thread>

#include "default_images.h"
#include "render.h"
#include "serve_fixture.h"

namespace servetest {
namespace {

using nlohmann::json;

std::string Change(const std::string& tool, const std::string& id, const json& value, int time = 0,
                   const std::string& gesture = "") {
  return json{{"tool", tool}, {"id", id}, {"value", value}, {"time", time}, {"gesture", gesture}}
      .dump();
}

std::string Act(const std::string& tool, int time = 0) {
  return json{{"tool", tool}, {"time", time}}.dump();
}

TEST_F(ServeTest, BlebResetIsOneStepNamedByTheToolAndUndoesWhole) {
  ASSERT_EQ(Post("/api/change", Change("Bleb", "Amp1", 2.0)).status, 200);
  ASSERT_EQ(Post("/api/change", Change("Bleb", "BScl", 3.0)).status, 200);
  ASSERT_EQ(Post("/api/change", Change("Bleb", "Ang2", 10.0)).status, 200);
  json s = Json(Post("/api/reset", Act("Bleb")));
  EXPECT_EQ(s["undo"], "Reset Bleb");
  EXPECT_EQ(s["undoCount"], 4);
  EXPECT_EQ(s["values"]["Amp1"]["value"], 0.0);
  EXPECT_EQ(s["values"]["BScl"]["value"], 1.0);
  EXPECT_EQ(s["values"]["Ang2"]["value"], 51.4);
  s = Json(Post("/api/undo", Act("Bleb")));
  EXPECT_EQ(s["values"]["Amp1"]["value"], 2.0);
  EXPECT_EQ(s["values"]["BScl"]["value"], 3.0);
  EXPECT_EQ(s["values"]["Ang2"]["value"], 10.0);
  EXPECT_EQ(s["undo"], "Change Angle 2");
  EXPECT_EQ(s["redo"], "Reset Bleb");
  s = Json(Post("/api/redo", Act("Bleb")));
  EXPECT_EQ(s["values"]["BScl"]["value"], 1.0);
  EXPECT_EQ(s["redo"], "");
}

TEST_F(ServeTest, ChangesOfOneGestureAreOneStep) {
  for (double v : {0.5, 1.0, 1.5})
    ASSERT_EQ(Post("/api/change", Change("Bleb", "Amp3", v, 0, "drag-1")).status, 200);
  ASSERT_EQ(Post("/api/change", Change("Bleb", "Cent", {0.3, 0.4}, 0, "drag-2")).status, 200);
  ASSERT_EQ(Post("/api/change", Change("Bleb", "Cent", {0.2, 0.4}, 0, "drag-2")).status, 200);
  json s = State("Bleb");
  EXPECT_EQ(s["undoCount"], 2);
  EXPECT_EQ(s["undo"], "Move XY Center");
  s = Json(Post("/api/undo", Act("Bleb")));
  EXPECT_EQ(s["values"]["Cent"]["value"], json({0.5, 0.5}));
  EXPECT_EQ(s["values"]["Amp3"]["value"], 1.5);
  s = Json(Post("/api/undo", Act("Bleb")));
  EXPECT_EQ(s["values"]["Amp3"]["value"], 0.0);
  // A new action after an undo drops what could be redone.
  ASSERT_EQ(Post("/api/change", Change("Bleb", "Amp3", 0.25)).status, 200);
  EXPECT_EQ(State("Bleb")["redo"], "");
}

TEST_F(ServeTest, KeysAnimateAControlAndAreUndoneOneByOne) {
  const json key5{{"tool", "Bleb"}, {"id", "Amp1"}, {"time", 5}, {"action", "set"}};
  ASSERT_EQ(Post("/api/key", key5.dump()).status, 200);
  ASSERT_EQ(Post("/api/change", Change("Bleb", "Amp1", 2.0, 15)).status, 200);
  json s = State("Bleb", 10);
  EXPECT_TRUE(s["values"]["Amp1"]["animated"]);
  EXPECT_EQ(s["values"]["Amp1"]["keys"], json({5.0, 15.0}));
  EXPECT_DOUBLE_EQ(s["values"]["Amp1"]["value"].get<double>(), 1.0);  // halfway from 0 to 2
  const json clear{{"tool", "Bleb"}, {"id", "Amp1"}, {"time", 10}, {"action", "clear"}};
  s = Json(Post("/api/key", clear.dump()));
  EXPECT_FALSE(s["values"]["Amp1"]["animated"]);
  EXPECT_DOUBLE_EQ(s["values"]["Amp1"]["value"].get<double>(), 1.0);
  Post("/api/undo", Act("Bleb"));
  Post("/api/undo", Act("Bleb"));
  s = Json(Post("/api/undo", Act("Bleb")));
  EXPECT_FALSE(s["values"]["Amp1"]["animated"]);
  EXPECT_EQ(s["undoCount"], 0);
}

TEST_F(ServeTest, OneKeyIsRemovedAtItsFrameAndTheLastEndsTheAnimation) {
  auto key = [](const char* action, int time) {
    return json{{"tool", "Bleb"}, {"id", "Amp1"}, {"time", time}, {"action", action}}.dump();
  };
  // Not animated yet: nothing to remove, nothing changes.
  auto refused = Post("/api/key", key("remove", 2));
  EXPECT_EQ(refused.status, 400);
  EXPECT_NE(refused.body.find("no key at frame 2"), std::string::npos) << refused.body;
  ASSERT_EQ(Post("/api/key", key("set", 2)).status, 200);
  ASSERT_EQ(Post("/api/change", Change("Bleb", "Amp1", 2.0, 6)).status, 200);
  ASSERT_EQ(Post("/api/change", Change("Bleb", "Amp1", 4.0, 10)).status, 200);
  const int steps = State("Bleb")["undoCount"];
  EXPECT_EQ(Post("/api/key", key("remove", 4)).status, 400);  // between keys
  EXPECT_EQ(State("Bleb")["undoCount"], steps);
  json s = Json(Post("/api/key", key("remove", 6)));
  EXPECT_EQ(s["values"]["Amp1"]["keys"], json({2.0, 10.0}));
  EXPECT_EQ(s["undo"], "Remove key of Amplitude 1 at frame 6");
  EXPECT_DOUBLE_EQ(State("Bleb", 6)["values"]["Amp1"]["value"].get<double>(), 2.0);  // 0 to 4
  Post("/api/key", key("remove", 2));
  s = Json(Post("/api/key", key("remove", 10)));
  EXPECT_FALSE(s["values"]["Amp1"]["animated"]);
  EXPECT_EQ(s["values"]["Amp1"]["value"], 4.0);  // the last key's value stays
  s = Json(Post("/api/undo", Act("Bleb", 6)));
  EXPECT_EQ(s["values"]["Amp1"]["keys"], json({10.0}));
  EXPECT_EQ(Post("/api/key", key("forget", 10)).status, 400);
}

TEST_F(ServeTest, CandlePresetAndPointLinksAreOneStepEachWithTheToolsCaption) {
  if (!Has("Candle")) GTEST_SKIP() << "Candle is not built";
  json s = Json(Post("/api/change", Change("Candle", "Dem1", 1)));  // "Still Flame"
  EXPECT_EQ(s["undo"], "Demos: Still Flame");  // the tool's "Still flame" said already
  EXPECT_EQ(s["values"]["Turb"]["value"], 0.0);
  EXPECT_FLOAT_EQ(s["values"]["BLef"]["value"][0].get<float>(), 0.361f);
  s = Json(Post("/api/undo", Act("Candle")));
  EXPECT_EQ(s["values"]["Turb"]["value"], 40.0);
  EXPECT_EQ(s["values"]["Dem1"]["value"], 0.0);
  EXPECT_FLOAT_EQ(s["values"]["BLef"]["value"][0].get<float>(), 0.125f);
  EXPECT_EQ(s["undoCount"], 0);

  // The links read the points of the last render: the page tells the tool
  // of a drag's end again once that render is done.
  ASSERT_EQ(Post("/api/change", Change("Candle", "BLef", {0.2, 0.913}, 0, "drag")).status, 200);
  ASSERT_EQ(Get("/api/frame",
                {{"tool", "Candle"}, {"time", "0"}, {"version", State("Candle")["version"].dump()}})
                .status,
            200);
  s = Json(Post("/api/change", Change("Candle", "BLef", {0.2, 0.913}, 0, "drag")));
  EXPECT_EQ(s["undo"], "Move Bottom Left (Overlay)");
  EXPECT_EQ(s["undoCount"], 1);
  EXPECT_FLOAT_EQ(s["values"]["TLef"]["value"][0].get<float>(), 0.2f);
  EXPECT_FLOAT_EQ(s["values"]["TLef"]["value"][1].get<float>(), 0.13f);
  EXPECT_NEAR(s["values"]["CPo1"]["value"][0].get<double>(), 0.2 + (0.875 - 0.2) / 3, 1e-6);
  s = Json(Post("/api/undo", Act("Candle")));
  EXPECT_FLOAT_EQ(s["values"]["BLef"]["value"][0].get<float>(), 0.125f);
  EXPECT_FLOAT_EQ(s["values"]["TLef"]["value"][0].get<float>(), 0.125f);
}

TEST_F(ServeTest, BubblesPresetIsOneStepAndResetFallsBackToTheDefaults) {
  if (!Has("Bubbles")) GTEST_SKIP() << "Bubbles is not built";
  const json start = State("Bubbles")["values"];
  json s = Json(Post("/api/change", Change("Bubbles", "Demo", 3)));  // "Under Water"
  EXPECT_EQ(s["undo"], "Demos: Under Water");
  // One colour pick moving two channels changes the colour.
  Post("/api/change", Change("Bubbles", "LRed", 0.5, 0, "pick"));
  s = Json(Post("/api/change", Change("Bubbles", "LGre", 0.25, 0, "pick")));
  EXPECT_EQ(s["undo"], "Change Light Color");
  EXPECT_EQ(s["undoCount"], 2);
  s = Json(Post("/api/undo", Act("Bubbles")));
  EXPECT_EQ(s["values"]["Shap"]["value"], 2.0);
  EXPECT_EQ(s["values"]["Qtyy"]["value"], 9.0);
  s = Json(Post("/api/undo", Act("Bubbles")));
  EXPECT_EQ(s["values"], start);
  // Bubbles does nothing with a reset request; the host sets the defaults.
  Post("/api/change", Change("Bubbles", "Qtyy", 40.0));
  s = Json(Post("/api/reset", Act("Bubbles")));
  EXPECT_EQ(s["undo"], "Reset Bubbles");
  EXPECT_EQ(s["values"], start);
}

// Frames of the viewer are the frames the tool delivers for the values shown.
std::vector<uint8_t> FrameBytes(const vorn::serve::HttpResponse& r) {
  return std::vector<uint8_t>(r.body.begin(), r.body.end());
}

TEST_F(ServeTest, FramesFollowTheValuesAndAStepperIsSimulatedFromTheShotStart) {
  auto frame = [&](const char* tool, int time) {
    const json s = State(tool, time);
    return Get("/api/frame",
               {{"tool", tool}, {"time", std::to_string(time)}, {"version", s["version"].dump()}});
  };
  const auto plain = frame("Bleb", 0);
  ASSERT_EQ(plain.status, 200) << plain.body;
  EXPECT_EQ(plain.body.size(), 64u * 36u * 4u);
  ASSERT_EQ(Post("/api/change", Change("Bleb", "Amp1", 3.0)).status, 200);
  const auto warped = frame("Bleb", 0);
  ASSERT_EQ(warped.status, 200);
  EXPECT_NE(warped.body, plain.body);
  EXPECT_EQ(Get("/api/frame", {{"tool", "Bleb"}, {"time", "21"}}).status, 400);

  if (!Has("Bubbles")) GTEST_SKIP() << "Bubbles is not built";
  ASSERT_EQ(Post("/api/change", Change("Bubbles", "Demo", 1)).status, 200);
  ASSERT_EQ(frame("Bubbles", 6).status, 200);
  const auto back = frame("Bubbles", 3);  // back in time: simulated again
  ASSERT_EQ(back.status, 200);
  // The same frame from a fresh operator stepped from frame 0.
  std::string error;
  df::Registry* registry = host_.FindTool("Bubbles", &error);
  ASSERT_NE(registry, nullptr);
  df::CPipelineDoc doc;
  df::OperatorPtr op = doc.CreateOperator(registry, &error);
  ASSERT_TRUE(op) << error;
  df::Number preset(1);
  op->FindInputByName("Demos")->SetValue(&preset, 0, 1);
  // The built-in image of each required image input, connected by hand.
  std::vector<std::pair<df::Input*, vorn::ImageRef>> pictures;
  for (const auto& in : op->Inputs())
    if (in->IsImage() && in->Required())
      pictures.emplace_back(in.get(), vorn::MakeDefaultImage(registry->ClassName(), 64, 36, 1.0));
  std::vector<uint8_t> expected;
  for (int f = 0; f <= 3; ++f) {
    df::Request request(op.get(), f);
    for (const auto& [input, image] : pictures) request.SetInputImage(input, image.get());
    op->Process(&request);
    vorn::ImageRef image(static_cast<df::Image*>(request.TakeOutputData(op->Outputs()[0].get())));
    ASSERT_TRUE(image);
    if (f < 3) continue;
    for (int y = 0; y < image->height; ++y)
      for (int x = 0; x < image->width; ++x) {
        const uint8_t* p = image->Pixel(x, y);
        expected.insert(expected.end(), {p[2], p[1], p[0], p[3]});
      }
  }
  EXPECT_EQ(FrameBytes(back), expected);
  op.reset();
}

// Button presses belong to the values they were made on: a Load drops
// them, its undo brings them back (the viewer simulates with them again) and
// its redo drops them again.
TEST_F(ServeTest, UndoingALoadBringsBackTheButtonPresses) {
  if (!Has("Bubbles")) GTEST_SKIP() << "Bubbles is not built";
  auto frame = [&](int time) {
    const auto r = CurrentFrame("Bubbles", time);
    EXPECT_EQ(r.status, 200) << r.body;
    return r.body;
  };
  const std::string file = R"({"tool":"Bubbles","time":0,"root":0,"path":"plain.vcomp"})";
  ASSERT_EQ(Post("/api/save", file).status, 200);
  const std::string plain = frame(12);
  ASSERT_EQ(Post("/api/change", Change("Bubbles", "Kill", 1, 6)).status, 200);
  const std::string pressed = frame(12);
  ASSERT_NE(pressed, plain);  // the restart at frame 6 shows at frame 12

  json s = Json(Post("/api/load", R"({"time":0,"root":0,"path":"plain.vcomp"})"));
  EXPECT_EQ(s["undo"], "Load plain.vcomp");
  EXPECT_EQ(frame(12), plain);
  s = Json(Post("/api/undo", Act("Bubbles")));
  EXPECT_EQ(s["undo"], "Press Restart Bubbles at frame 6");
  EXPECT_EQ(frame(12), pressed);
  ASSERT_EQ(Post("/api/redo", Act("Bubbles")).status, 200);
  EXPECT_EQ(frame(12), plain);
}

// A press is a key of the composition at its frame: Export renders it, Save
// keeps it with the shot and the images' size so that `vorn render --comp`
// with plain frames renders the export's bytes, undo takes it away from the
// viewer and the export, and Reset clears every press.
TEST_F(ServeTest, ButtonPressesAreSavedExportedUndoneAndReset) {
  if (!Has("Bubbles")) GTEST_SKIP() << "Bubbles is not built";
  auto bytes = [&](const std::string& name) {
    std::ifstream in(folder_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  auto exportAs = [&](const std::string& name) {
    const json body{{"tool", "Bubbles"},
                    {"time", 0},
                    {"root", 0},
                    {"path", name + ".#.png"},
                    {"frames", "10-12"}};
    const auto r = Post("/api/export", body.dump());
    EXPECT_EQ(r.status, 200) << r.body;
    return bytes(name + ".0012.png");
  };
  auto frame = [&](int time) { return CurrentFrame("Bubbles", time).body; };
  const std::string plain = exportAs("plain"), plainFrame = frame(12);
  ASSERT_FALSE(plain.empty());
  json s = Json(Post("/api/change", Change("Bubbles", "Kill", 1, 6)));
  EXPECT_EQ(s["undo"], "Press Restart Bubbles at frame 6");
  EXPECT_EQ(s["values"]["Kill"]["keys"], json({6.0}));
  const std::string pressed = exportAs("pressed");
  EXPECT_NE(pressed, plain);
  EXPECT_NE(frame(12), plainFrame);
  ASSERT_EQ(Post("/api/save", R"({"tool":"Bubbles","time":0,"root":0,"path":"p.vcomp"})").status,
            200);

  // Neither the shot's start nor the images' size is given again.
  vorn::RenderSettings render;
  render.actions = {{vorn::RenderAction::Kind::Comp, (folder_ / "p.vcomp").string()}};
  render.frames = "10-12";
  render.out = (folder_ / "render.#.png").string();
  render.quiet = true;
  ASSERT_EQ(vorn::RunRender(host_, render).exitCode, vorn::kExitOk);
  for (const char* f : {"0010", "0011", "0012"})
    EXPECT_EQ(bytes(std::string("render.") + f + ".png"),
              bytes(std::string("pressed.") + f + ".png"))
        << f;

  s = Json(Post("/api/undo", Act("Bubbles")));
  EXPECT_FALSE(s["values"]["Kill"]["animated"]);
  EXPECT_EQ(frame(12), plainFrame);
  EXPECT_EQ(exportAs("undone"), plain);

  ASSERT_EQ(Post("/api/redo", Act("Bubbles")).status, 200);
  ASSERT_EQ(Post("/api/change", Change("Bubbles", "Kill", 1, 9)).status, 200);
  ASSERT_EQ(State("Bubbles")["values"]["Kill"]["keys"], json({6.0, 9.0}));
  s = Json(Post("/api/reset", Act("Bubbles")));
  EXPECT_FALSE(s["values"]["Kill"]["animated"]);
  EXPECT_EQ(exportAs("reset"), plain);
  s = Json(Post("/api/undo", Act("Bubbles")));  // the reset, presses and all
  EXPECT_EQ(s["values"]["Kill"]["keys"], json({6.0, 9.0}));
}

// A late change simulates again only from the latest copy before the first
// frame it reaches, and going back goes on from a copy: the frames are those
// of a fresh operator simulated from the shot's start with the same values.
TEST_F(ServeTest, ALateChangeGoesOnFromTheLatestValidCopyWithTheSameBytes) {
  if (!Has("Bubbles")) GTEST_SKIP() << "Bubbles is not built";
  auto frame = [&](int time) {
    const auto r = CurrentFrame("Bubbles", time);
    EXPECT_EQ(r.status, 200) << r.body;
    return FrameBytes(r);
  };
  auto simulation = [&] { return Json(Get("/api/simulation", {{"tool", "Bubbles"}})); };
  auto key = [&](int time) {
    const json k = {{"tool", "Bubbles"}, {"id", "Qtyy"}, {"time", time}, {"action", "set"}};
    ASSERT_EQ(Post("/api/key", k.dump()).status, 200);
  };
  ASSERT_EQ(Post("/api/change", Change("Bubbles", "Demo", 1)).status, 200);
  key(10);
  key(12);
  frame(18);  // copies after frames 4, 9 and 14
  EXPECT_EQ(simulation()["checkpoints"], 3);
  // Keys at 10 and 12: a new value at 12 reaches frames 11 on.
  ASSERT_EQ(Post("/api/change", Change("Bubbles", "Qtyy", 60, 12)).status, 200);
  const std::vector<uint8_t> late = frame(18);
  EXPECT_EQ(simulation()["from"], 9);
  const std::vector<uint8_t> back = frame(16);
  EXPECT_EQ(simulation()["from"], 14);
  // A press at frame 3 reaches every copy.
  ASSERT_EQ(Post("/api/change", Change("Bubbles", "Kill", 1, 3)).status, 200);
  const std::vector<uint8_t> pressed = frame(16);
  EXPECT_EQ(simulation()["from"], -1);
  // A light changed for the whole shot leaves the simulation as it was.
  ASSERT_EQ(Post("/api/change", Change("Bubbles", "LBri", 200, 16)).status, 200);
  const std::vector<uint8_t> brighter = frame(16);
  EXPECT_EQ(simulation()["from"], 14);

  std::string error;
  df::Registry* registry = host_.FindTool("Bubbles", &error);
  ASSERT_NE(registry, nullptr);
  df::CPipelineDoc doc;
  auto expected = [&](bool press, double brightness = -1) {
    df::OperatorPtr op = doc.CreateOperator(registry, &error);
    EXPECT_TRUE(op) << error;
    df::Number preset(1), sixty(60), one(1);
    op->FindInputByName("Demos")->SetValue(&preset, 0, 1);
    // The keys as the page sets them, then the change.
    df::Input* quantity = op->FindInputByName("Bubble Quantity");
    for (int t : {10, 12}) {
      df::Number held(quantity->NumberAt(t));
      quantity->SetAnimated(true, t);
      quantity->SetValue(&held, t, 0);
    }
    quantity->SetValue(&sixty, 12, 1);
    if (brightness >= 0) {
      df::Number light(brightness);
      op->FindInputByName("Light Brightness")->SetValue(&light, 16, 1);
    }
    vorn::ImageRef birth = vorn::MakeDefaultImage(registry->ClassName(), 64, 36, 1.0);
    std::vector<std::vector<uint8_t>> frames;
    for (int f = 0; f <= 18; ++f) {
      if (press && f == 3) op->FindInputByName("Restart Bubbles")->SetValue(&one, f, 1);
      df::Request request(op.get(), f);
      request.SetInputImage(op->FindInputByName("Birth"), birth.get());
      op->Process(&request);
      vorn::ImageRef image(static_cast<df::Image*>(request.TakeOutputData(op->Outputs()[0].get())));
      std::vector<uint8_t> rgba;
      for (int y = 0; image && y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
          const uint8_t* p = image->Pixel(x, y);
          rgba.insert(rgba.end(), {p[2], p[1], p[0], p[3]});
        }
      frames.push_back(std::move(rgba));
    }
    return frames;
  };
  const auto plain = expected(false);
  EXPECT_EQ(late, plain[18]);
  EXPECT_EQ(back, plain[16]);
  EXPECT_EQ(pressed, expected(true)[16]);
  EXPECT_EQ(brighter, expected(true, 200)[16]);
}

// Two pages on one server: a page waiting for changes hears of another
// page's change at once, and a page acting on values older than the
// server's is refused with the values as they are (so the undo it shows is
// the one undo undoes).
TEST_F(ServeTest, EveryPageHearsOfChangesAndOldValuesAreNotActedOn) {
  const uint64_t seen = State("Bleb")["version"];
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Post("/api/change", Change("Bleb", "BScl", 2.0));
  });
  const auto start = std::chrono::steady_clock::now();
  const json heard =
      Json(Get("/api/wait", {{"tool", "Bleb"}, {"version", std::to_string(seen)}, {"time", "0"}}));
  other.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_GT(heard["version"].get<uint64_t>(), seen);
  EXPECT_EQ(heard["values"]["BScl"]["value"], 2.0);
  EXPECT_EQ(heard["undo"], "Change Scale");

  // The page that last saw `seen` acts on old values: refused, with the state.
  auto based = [](json body, uint64_t base) {
    body["base"] = base;
    return body.dump();
  };
  auto r = Post("/api/change", based(json::parse(Change("Bleb", "Amp1", 1.0)), seen));
  EXPECT_EQ(r.status, 409);
  EXPECT_EQ(Json(r)["state"]["values"]["BScl"]["value"], 2.0);
  EXPECT_EQ(Post("/api/undo", based(json::parse(Act("Bleb")), seen)).status, 409);
  EXPECT_EQ(State("Bleb")["values"]["Amp1"]["value"], 0.0);
  // Up to date, it acts.
  const uint64_t now = heard["version"];
  const json undone = Json(Post("/api/undo", based(json::parse(Act("Bleb")), now)));
  EXPECT_EQ(undone["values"]["BScl"]["value"], 1.0);
  EXPECT_EQ(Get("/api/wait", {{"tool", "Bleb"}, {"version", "x"}}).status, 400);
}

}  // namespace
}  // namespace servetest

// The flow in `vorn serve`: graph edits as undo steps, the selected node's
// controls, the viewed node's frames, Save and Export.
#include <fstream>

#include "image_io.h"
#include "render.h"
#include "serve_fixture.h"

namespace {

using nlohmann::json;
using servetest::ServeTest;
using vorn::serve::HttpResponse;

std::string Body(json j) {
  if (!j.contains("time")) j["time"] = 0;
  j["tool"] = "flow";
  return j.dump();
}

// The name of a node's first image input, from the graph.
std::string FirstInput(const json& graph, const std::string& node) {
  for (const json& n : graph["nodes"])
    if (n["name"] == node && !n["inputs"].empty()) return n["inputs"][0]["name"];
  return "";
}

// Whether the viewer's RGBA bytes hold the pixels of the 8-bit image file.
void ExpectSamePixels(const std::string& rgba, const std::filesystem::path& file) {
  std::string error;
  vorn::ImageRef image = vorn::ReadImage(file.string(), &error);
  ASSERT_TRUE(image) << error;
  ASSERT_EQ(size_t(image->width) * size_t(image->height) * 4, rgba.size());
  size_t differ = 0;
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width; ++x) {
      const uint8_t* p = image->Pixel(x, y);
      const auto* v = reinterpret_cast<const uint8_t*>(rgba.data()) +
                      (size_t(y) * size_t(image->width) + size_t(x)) * 4;
      differ += p[2] != v[0] || p[1] != v[1] || p[0] != v[2] || p[3] != v[3];
    }
  EXPECT_EQ(differ, 0u) << file;
}

TEST_F(ServeTest, FlowGraphEditsAreUndoStepsAndTheSelectedNodeTakesTheControls) {
  if (!Has("Candle") || !Has("Bleb")) GTEST_SKIP() << "the tools are not built";
  EXPECT_EQ(Get("/api/state", {{"tool", "flow"}}).status, 404);  // none open yet
  ASSERT_EQ(Post("/api/flow/new", R"({"time":0})").status, 200);
  auto graph = [&] { return Json(Get("/api/graph", {{"tool", "flow"}})); };
  std::vector<json> graphs{graph()};
  std::vector<std::string> captions;
  auto edit = [&](const char* path, json body, const std::string& caption) {
    const HttpResponse r = Post(path, Body(body));
    ASSERT_EQ(r.status, 200) << path << " " << r.body;
    EXPECT_EQ(Json(r)["undo"], caption);
    graphs.push_back(Json(r)["flow"]);
    captions.push_back(caption);
  };
  edit("/api/node/add", {{"class", "Candle"}}, "Add Candle1");
  edit("/api/node/add", {{"class", "Bleb"}}, "Add Bleb1");
  edit("/api/node/add", {{"class", "Merge"}}, "Add Merge1");
  const std::string blebInput = FirstInput(graphs.back(), "Bleb1");
  ASSERT_FALSE(blebInput.empty());
  edit("/api/node/connect", {{"from", "Candle1"}, {"to", "Merge1"}, {"input", "A"}},
       "Connect Candle1 to Merge1 A");
  edit("/api/node/connect", {{"from", "Bleb1"}, {"to", "Merge1"}, {"input", "B"}},
       "Connect Bleb1 to Merge1 B");
  // Merge1 feeding Bleb1 would close a loop: refused, nothing changes.
  const HttpResponse loop =
      Post("/api/node/connect", Body({{"from", "Merge1"}, {"to", "Bleb1"}, {"input", blebInput}}));
  EXPECT_EQ(loop.status, 400);
  EXPECT_NE(loop.body.find("would close a loop"), std::string::npos) << loop.body;
  EXPECT_EQ(graph(), graphs.back());
  edit("/api/node/add", {{"class", "Merge"}, {"name", "Top"}}, "Add Top");
  edit("/api/node/rename", {{"node", "Bleb1"}, {"name", "Warp"}}, "Rename Bleb1 to Warp");
  edit("/api/node/settings", {{"node", "Merge1"}, {"settings", {{"mix", 0.5}}}},
       "Change Merge1 mix");
  edit("/api/node/delete", {{"node", "Candle1"}}, "Delete Candle1");
  edit("/api/node/disconnect", {{"to", "Merge1"}, {"input", "B"}}, "Disconnect Merge1 B");
  {
    const json g = graphs.back();
    EXPECT_EQ(g["nodes"].size(), 3u);  // Warp, Merge1, Top
    EXPECT_TRUE(g["connections"].empty()) << g;
    EXPECT_EQ(g["nodes"][1]["settings"]["mix"], 0.5);
  }
  // A renamed node keeps its connections; a name taken is refused.
  EXPECT_EQ(graphs[graphs.size() - 4]["connections"][1]["from"], "Warp");
  EXPECT_EQ(Post("/api/node/rename", Body({{"node", "Warp"}, {"name", "Top"}})).status, 400);
  EXPECT_EQ(Post("/api/node/settings", Body({{"node", "Top"}, {"settings", {{"mix", 2}}}})).status,
            400);
  EXPECT_EQ(Post("/api/node/add", Body({{"class", "Nothing"}})).status, 400);

  // Every step undone brings back the graph before it, and redone the one after.
  for (size_t i = captions.size(); i-- > 0;) {
    const HttpResponse r = Post("/api/undo", Body({}));
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(Json(r)["flow"]["nodes"], graphs[i]["nodes"]) << captions[i];
    EXPECT_EQ(Json(r)["flow"]["connections"], graphs[i]["connections"]) << captions[i];
    EXPECT_EQ(Json(r)["redo"], captions[i]);
  }
  for (size_t i = 0; i < captions.size(); ++i) {
    const HttpResponse r = Post("/api/redo", Body({}));
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(Json(r)["flow"]["nodes"], graphs[i + 1]["nodes"]) << captions[i];
    EXPECT_EQ(Json(r)["flow"]["connections"], graphs[i + 1]["connections"]) << captions[i];
  }

  // A Read's file lies in the folders the server may use.
  ASSERT_EQ(Post("/api/node/add", Body({{"class", "Read"}})).status, 200);
  const HttpResponse outside = Post(
      "/api/node/settings", Body({{"node", "Read1"}, {"settings", {{"file", "/etc/hostname"}}}}));
  EXPECT_EQ(outside.status, 400);
  EXPECT_NE(outside.body.find("outside the folders"), std::string::npos) << outside.body;
  EXPECT_EQ(Post("/api/node/settings",
                 Body({{"node", "Read1"}, {"settings", {{"file", (folder_ / "p.png").string()}}}}))
                .status,
            200);

  // The controls act on the selected node: Warp's, not another Bleb's.
  edit("/api/node/add", {{"class", "Bleb"}}, "Add Bleb1");
  ASSERT_EQ(Post("/api/node/select", Body({{"node", "Warp"}})).status, 200);
  const json desc = Json(Get("/api/describe", {{"tool", "flow"}}));
  EXPECT_EQ(desc["name"], "Bleb");
  const json before = State("flow");
  ASSERT_EQ(Post("/api/change", Body({{"id", "Amp1"}, {"value", 2}})).status, 200);
  EXPECT_EQ(State("flow")["values"]["Amp1"]["value"], 2);
  ASSERT_EQ(Post("/api/node/select", Body({{"node", "Bleb1"}})).status, 200);
  EXPECT_EQ(State("flow")["values"]["Amp1"], before["values"]["Amp1"]);
  // Undo of the change acts on Warp even with Bleb1 selected.
  EXPECT_EQ(Json(Post("/api/undo", Body({})))["redo"].get<std::string>().rfind("Change ", 0), 0u);
  ASSERT_EQ(Post("/api/node/select", Body({{"node", "Warp"}})).status, 200);
  EXPECT_EQ(State("flow")["values"]["Amp1"], before["values"]["Amp1"]);
  // A Merge selected has no controls; its settings are its own.
  ASSERT_EQ(Post("/api/node/select", Body({{"node", "Merge1"}})).status, 200);
  EXPECT_TRUE(State("flow")["values"].empty());
  EXPECT_EQ(Post("/api/change", Body({{"id", "Amp1"}, {"value", 2}})).status, 400);
}

TEST_F(ServeTest, AFlowIsViewedSavedLoadedAndExportedAsRenderCompRendersIt) {
  if (!Has("Bubbles") || !Has("Bleb")) GTEST_SKIP() << "the tools are not built";
  ASSERT_EQ(Post("/api/flow/new", R"({"time":0})").status, 200);
  for (const char* cls : {"Bleb", "Bubbles", "Merge"})
    ASSERT_EQ(Post("/api/node/add", Body({{"class", cls}})).status, 200) << cls;
  ASSERT_EQ(
      Post("/api/node/connect", Body({{"from", "Bubbles1"}, {"to", "Merge1"}, {"input", "A"}}))
          .status,
      200);
  ASSERT_EQ(
      Post("/api/node/connect", Body({{"from", "Bleb1"}, {"to", "Merge1"}, {"input", "B"}})).status,
      200);
  ASSERT_EQ(Post("/api/node/select", Body({{"node", "Bleb1"}})).status, 200);
  ASSERT_EQ(Post("/api/change", Body({{"id", "Amp1"}, {"value", 2}})).status, 200);
  const json state = State("flow");
  EXPECT_EQ(state["flow"]["viewed"], "Merge1");  // the last node
  EXPECT_TRUE(state["stepped"]);                 // Bubbles is upstream

  auto frame = [&](int time) {
    const std::string version = State("flow", time)["version"].dump();
    return Get("/api/frame",
               {{"tool", "flow"}, {"time", std::to_string(time)}, {"version", version}});
  };
  // Bubbles steps from the shot's start: frame 4 after frame 2 equals frame 4
  // simulated afresh (after a change and its undo).
  ASSERT_EQ(frame(2).status, 200);
  const HttpResponse four = frame(4);
  ASSERT_EQ(four.status, 200) << four.body;
  ASSERT_EQ(Post("/api/node/view", Body({{"node", "Bleb1"}})).status, 200);
  const HttpResponse warp = frame(4);
  ASSERT_EQ(warp.status, 200);
  EXPECT_NE(warp.body, four.body);
  ASSERT_EQ(Post("/api/node/view", Body({{"node", ""}})).status, 200);
  EXPECT_EQ(frame(4).body, four.body);

  ASSERT_EQ(Post("/api/save", Body({{"root", 0}, {"path", "a.flow.json"}})).status, 200);
  EXPECT_FALSE(State("flow")["unsaved"]);
  // Loading the saved file gives the same graph, as one undo step.
  ASSERT_EQ(Post("/api/node/delete", Body({{"node", "Bleb1"}})).status, 200);
  const HttpResponse load = Post("/api/load", Body({{"root", 0}, {"path", "a.flow.json"}}));
  ASSERT_EQ(load.status, 200) << load.body;
  EXPECT_EQ(Json(load)["undo"], "Load a.flow.json");
  EXPECT_EQ(Json(load)["flow"]["nodes"], state["flow"]["nodes"]);
  EXPECT_EQ(Json(load)["flow"]["connections"], state["flow"]["connections"]);
  EXPECT_EQ(frame(4).body, four.body);

  const HttpResponse exported =
      Post("/api/export", Body({{"root", 0}, {"path", "out.#.png"}, {"frames", "3-4"}}));
  ASSERT_EQ(exported.status, 200) << exported.body;
  vorn::RenderSettings render;
  render.actions = {{vorn::RenderAction::Kind::Comp, (folder_ / "a.flow.json").string()}};
  render.frames = "3-4";
  render.node = "Merge1";
  render.out = (folder_ / "render.#.png").string();
  render.quiet = true;
  ASSERT_EQ(vorn::RunRender(host_, render).exitCode, vorn::kExitOk);
  auto bytes = [&](const std::string& name) {
    std::ifstream in(folder_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_FALSE(bytes("out.0004.png").empty());
  EXPECT_EQ(bytes("out.0003.png"), bytes("render.0003.png"));
  EXPECT_EQ(bytes("out.0004.png"), bytes("render.0004.png"));
  // The viewer showed what the file holds.
  ExpectSamePixels(four.body, folder_ / "out.0004.png");

  // A keyed change that reaches only frames after those simulated goes on
  // from there, with the bytes of a simulation afresh from the shot's start.
  ASSERT_EQ(Post("/api/node/select", Body({{"node", "Bubbles1"}})).status, 200);
  ASSERT_EQ(frame(8).status, 200);
  for (int t : {10, 12})
    ASSERT_EQ(Post("/api/key", Body({{"id", "Qtyy"}, {"action", "set"}, {"time", t}})).status, 200);
  ASSERT_EQ(Post("/api/change", Body({{"id", "Qtyy"}, {"value", 60}, {"time", 12}})).status, 200);
  const HttpResponse goneOn = frame(14);
  ASSERT_EQ(goneOn.status, 200) << goneOn.body;
  ASSERT_EQ(Post("/api/node/view", Body({{"node", "Bleb1"}})).status, 200);
  ASSERT_EQ(Post("/api/node/view", Body({{"node", ""}})).status, 200);
  EXPECT_EQ(frame(14).body, goneOn.body);
  ASSERT_EQ(Post("/api/undo", Body({})).status, 200);
  EXPECT_NE(frame(14).body, goneOn.body);
  // Frame 14 after the undo went on from the latest copy of the simulation
  // before it (one after every 5th frame: 4, 9, ...). A step back to a frame
  // stepped through then takes Bubbles' frame from the cache: only the
  // nodes not rendered at 12 render.
  const auto renders = [](const HttpResponse& r) {
    for (const auto& [name, value] : r.headers)
      if (name == "X-Node-Renders") return json::parse(value);
    return json::object();
  };
  const HttpResponse back = frame(12);
  ASSERT_EQ(back.status, 200);
  EXPECT_EQ(renders(back), json({{"Bleb1", 1}, {"Merge1", 1}})) << renders(back);
  ASSERT_EQ(Post("/api/node/view", Body({{"node", "Bleb1"}})).status, 200);
  ASSERT_EQ(Post("/api/node/view", Body({{"node", ""}})).status, 200);
  const HttpResponse again = frame(12);
  EXPECT_EQ(again.body, back.body);
  EXPECT_EQ(renders(again), json::object());  // every node's frame kept
  // A Merge's mix is no part of the simulation: its change renders the
  // Merge alone, with the bytes of a simulation afresh.
  ASSERT_EQ(
      Post("/api/node/settings", Body({{"node", "Merge1"}, {"settings", {{"mix", 0.5}}}})).status,
      200);
  const HttpResponse mixed = frame(12);
  EXPECT_EQ(renders(mixed), json({{"Merge1", 1}})) << renders(mixed);
  EXPECT_NE(mixed.body, back.body);
  ASSERT_EQ(Post("/api/save", Body({{"root", 0}, {"path", "mixed.flow.json"}})).status, 200);
  render.actions = {{vorn::RenderAction::Kind::Comp, (folder_ / "mixed.flow.json").string()}};
  render.frames = "12";
  render.out = (folder_ / "mixed.#.png").string();
  ASSERT_EQ(vorn::RunRender(host_, render).exitCode, vorn::kExitOk);
  ExpectSamePixels(mixed.body, folder_ / "mixed.0012.png");

  // Opened with the server (--comp), recognised by its content, the flow is
  // the page's first choice, with a fresh history.
  std::filesystem::copy_file(folder_ / "a.flow.json", folder_ / "start.comp");
  vorn::serve::FileRoots roots;
  std::string error;
  ASSERT_TRUE(roots.Add(folder_.string(), &error)) << error;
  vorn::serve::ApiSettings settings;
  settings.token = servetest::kToken;
  settings.webDir = folder_.string();
  settings.comp = (folder_ / "start.comp").string();
  api_ = std::make_unique<vorn::serve::Api>(host_, std::move(roots), settings);
  ASSERT_TRUE(api_->Start(&error)) << error;
  EXPECT_EQ(Json(Get("/api/tools"))["initial"], "flow");
  const json opened = State("flow");
  EXPECT_EQ(opened["flow"]["nodes"], state["flow"]["nodes"]);
  EXPECT_EQ(opened["undoCount"], 0);
  EXPECT_EQ(frame(4).body, four.body);
}

TEST_F(ServeTest, FlowShotChangesAreUndoStepsAndASimulationStartRendersAfresh) {
  if (!Has("Bubbles")) GTEST_SKIP() << "the tools are not built";
  ASSERT_EQ(Post("/api/flow/new", R"({"time":0})").status, 200);
  ASSERT_EQ(Post("/api/node/add", Body({{"class", "Bubbles"}})).status, 200);
  auto frame = [&](int time) {
    const std::string version = State("flow", time)["version"].dump();
    return Get("/api/frame",
               {{"tool", "flow"}, {"time", std::to_string(time)}, {"version", version}});
  };
  // Frames up to 12 leave copies of the simulation from frame 0 behind.
  const HttpResponse before = frame(12);
  ASSERT_EQ(before.status, 200) << before.body;
  const json was = State("flow", 12);

  // Refused shots name what is wrong and change nothing.
  const json shot = {{"first", 4}, {"last", 16}, {"simulationStart", 2}};
  for (const auto& [bad, words] :
       std::vector<std::pair<json, std::string>>{{{{"last", 3}}, "\"last\" (3) is before"},
                                                 {{{"simulationStart", 5}}, "\"simulationStart\""},
                                                 {{{"first", "x"}}, "\"first\""},
                                                 {{{"last", 3000000}}, "more than"}}) {
    json body = shot;
    body.update(bad);
    const HttpResponse r = Post("/api/flow/shot", Body(body));
    EXPECT_EQ(r.status, 400) << bad;
    EXPECT_NE(Json(r)["error"].get<std::string>().find(words), std::string::npos) << r.body;
  }
  EXPECT_EQ(State("flow", 12)["flow"], was["flow"]);
  EXPECT_EQ(State("flow", 12)["undoCount"], was["undoCount"]);

  // One undo step; the timeline follows and the time stays within it.
  json body = shot;
  body["time"] = 0;
  const HttpResponse changed = Post("/api/flow/shot", Body(body));
  ASSERT_EQ(changed.status, 200) << changed.body;
  const json state = Json(changed);
  EXPECT_EQ(state["undo"], "Change shot");
  EXPECT_EQ(state["flow"]["shot"], shot);
  EXPECT_EQ(state["firstFrame"], 4);
  EXPECT_EQ(state["lastFrame"], 16);
  EXPECT_EQ(state["time"], 4);
  EXPECT_EQ(Post("/api/change", Body({{"id", "Qtyy"}, {"value", 60}, {"time", 2}})).status, 400);

  // Frame 12 simulated from frame 2, not from the copies of the earlier
  // start: what `vorn render --comp` of the saved flow gives.
  const HttpResponse later = frame(12);
  ASSERT_EQ(later.status, 200) << later.body;
  EXPECT_NE(later.body, before.body);
  ASSERT_EQ(Post("/api/save", Body({{"root", 0}, {"path", "shot.flow.json"}, {"time", 12}})).status,
            200);
  vorn::RenderSettings render;
  render.actions = {{vorn::RenderAction::Kind::Comp, (folder_ / "shot.flow.json").string()}};
  render.frames = "12";
  render.node = "Bubbles1";
  render.out = (folder_ / "shot.#.png").string();
  render.quiet = true;
  ASSERT_EQ(vorn::RunRender(host_, render).exitCode, vorn::kExitOk);
  ExpectSamePixels(later.body, folder_ / "shot.0012.png");

  const HttpResponse undone = Post("/api/undo", Body({{"time", 12}}));
  ASSERT_EQ(undone.status, 200) << undone.body;
  EXPECT_EQ(Json(undone)["flow"]["shot"], was["flow"]["shot"]);
  EXPECT_EQ(Json(undone)["firstFrame"], was["firstFrame"]);
  EXPECT_EQ(Json(undone)["lastFrame"], was["lastFrame"]);
  EXPECT_EQ(frame(12).body, before.body);
  ASSERT_EQ(Post("/api/redo", Body({{"time", 12}})).status, 200);
  EXPECT_EQ(frame(12).body, later.body);
}

}  // namespace

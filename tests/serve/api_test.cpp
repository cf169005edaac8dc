// The API as the page and strangers reach it: the token, refused requests
// that change nothing, compositions and exports inside the allowed folders.
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "image_io.h"
#include "image_ref.h"
#include "render.h"
#include "serve/token.h"
#include "serve_fixture.h"

namespace servetest {
namespace {

using vorn::serve::HttpRequest;
using vorn::serve::HttpResponse;

TEST_F(ServeTest, EveryRequestWithoutTheTokenIsRefused) {
  const std::string wrong = "0123456789abcdef0123456789abcdee";
  const std::vector<HttpRequest> strangers = {
      {"GET", "/", {}, "", "", ""},
      {"GET", "/api/tools", {}, "", "", ""},
      {"GET", "/api/state", {{"tool", "Bleb"}}, "", "", ""},
      {"POST", "/api/reset", {}, R"({"tool":"Bleb","time":0})", "", ""},
      {"GET", "/", {{"token", wrong}}, "", "", ""},
      {"GET", "/", {{"token", std::string(kToken) + "0"}}, "", "", ""},
      {"GET", "/", {{"token", ""}}, "", "", ""},
      {"GET", "/api/tools", {}, "", "vorn_token=" + wrong, ""},
      {"GET", "/api/tools", {}, "", "vorn_token2=" + std::string(kToken), ""},
      {"GET", "/api/tools", {}, "", "", wrong},
      // The token in the URL opens the page only; the API wants the cookie.
      {"GET", "/api/tools", {{"token", kToken}}, "", "", ""},
  };
  const std::string before = State("Bleb").dump();
  for (const HttpRequest& r : strangers) {
    const HttpResponse answer = api_->Handle(r);
    EXPECT_EQ(answer.status, 403) << r.method << " " << r.path << " cookie " << r.cookie;
    EXPECT_TRUE(answer.headers.empty());
  }
  EXPECT_EQ(State("Bleb").dump(), before);
}

TEST_F(ServeTest, ThePageWithTheTokenHandsItOnAsAStrictHttpOnlyCookie) {
  std::ofstream(folder_ / "index.html") << "<!doctype html><title>t</title>";
  HttpRequest open{"GET", "/", {{"token", kToken}}, "", "", ""};
  const HttpResponse page = api_->Handle(open);
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
  ASSERT_EQ(page.headers.size(), 2u);
  const auto& cookie = page.headers[1];
  EXPECT_EQ(cookie.first, "Set-Cookie");
  EXPECT_EQ(cookie.second,
            std::string("vorn_token=") + kToken + "; Path=/; HttpOnly; SameSite=Strict");
  // The browser then sends it with other cookies of the site.
  HttpRequest later{"GET", "/api/tools", {}, "", std::string("a=1; vorn_token=") + kToken, ""};
  EXPECT_EQ(api_->Handle(later).status, 200);
  // Only the page's own files are served.
  for (const char* path :
       {"/../index.html", "/dist/../index.html", "/dist/.hidden.js", "/etc/passwd"})
    EXPECT_EQ(Get(path).status, 404) << path;
}

TEST(ServeToken, CookieParsingAndComparison) {
  using vorn::serve::CookieValue;
  EXPECT_EQ(CookieValue("vorn_token=abc", "vorn_token").value_or("-"), "abc");
  EXPECT_EQ(CookieValue("x=1;  vorn_token=abc; y=2", "vorn_token").value_or("-"), "abc");
  EXPECT_FALSE(CookieValue("xvorn_token=abc; vorn_token2=abc", "vorn_token"));
  EXPECT_FALSE(CookieValue("", "vorn_token"));
  EXPECT_TRUE(vorn::serve::SameToken("abc", "abc"));
  EXPECT_FALSE(vorn::serve::SameToken("abd", "abc"));
  EXPECT_FALSE(vorn::serve::SameToken("ab", "abc"));
  EXPECT_FALSE(vorn::serve::SameToken("", ""));  // no token: nobody gets in
  const std::string a = vorn::serve::NewToken(), b = vorn::serve::NewToken();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);
}

TEST_F(ServeTest, BadRequestsAreRefusedWithAMessageAndChangeNothing) {
  const std::string before = State("Bleb").dump();
  struct Case {
    const char* path;
    const char* body;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {"/api/change", "{\"tool\":\"Bleb\",", 400, "not a JSON object"},
      {"/api/change", "[1,2]", 400, "not a JSON object"},
      {"/api/change", "", 400, "not a JSON object"},
      {"/api/change", R"({"tool":"Bleb","id":"BScl","value":2})", 400, "time"},
      {"/api/change", R"({"tool":"Bleb","id":"BScl","value":2,"time":0.5})", 400, "time"},
      {"/api/change", R"({"tool":"Bleb","id":"BScl","value":2,"time":21})", 400, "0 to 20"},
      {"/api/change", R"({"tool":"Nope","id":"BScl","value":2,"time":0})", 404, "unknown tool"},
      {"/api/change", R"({"tool":"Bleb","id":"Nope","value":2,"time":0})", 400, "no control"},
      {"/api/change", R"({"tool":"Bleb","id":"BScl","time":0})", 400, "no \"value\""},
      {"/api/change", R"({"tool":"Bleb","id":"BScl","value":-1,"time":0})", 400,
       "outside the allowed range (0.001 or more)"},
      {"/api/change", R"({"tool":"Bleb","id":"BScl","value":"2","time":0})", 400, "a number"},
      {"/api/change", R"({"tool":"Bleb","id":"BScl","value":1e999,"time":0})", 400, ""},
      {"/api/change", R"({"tool":"Bleb","id":"Fill","value":3,"time":0})", 400, "index 0 to 2"},
      {"/api/change", R"({"tool":"Bleb","id":"Fill","value":1.5,"time":0})", 400, "index 0 to 2"},
      {"/api/change", R"({"tool":"Bleb","id":"Cent","value":[0.5],"time":0})", 400, "[x, y]"},
      {"/api/change", R"({"tool":"Bleb","id":"Cent","value":[0.5,1e9],"time":0})", 400, "finite"},
      {"/api/change", R"({"tool":"Bleb","id":"Cent","value":0.5,"time":0})", 400, "[x, y]"},
      {"/api/key", R"({"tool":"Bleb","id":"BScl","time":0,"action":"drop"})", 400, "\"set\""},
      {"/api/key", R"({"tool":"Bleb","id":"Nope","time":0,"action":"set"})", 400, "no control"},
      {"/api/undo", R"({"tool":"Bleb","time":0})", 400, "nothing to undo"},
      {"/api/redo", R"({"tool":"Bleb","time":0})", 400, "nothing to redo"},
      {"/api/frobnicate", R"({"tool":"Bleb","time":0})", 404, "no such request"},
  };
  for (const Case& c : cases) {
    const HttpResponse r = Post(c.path, c.body);
    EXPECT_EQ(r.status, c.status) << c.path << " " << c.body;
    const nlohmann::json j = Json(r);
    ASSERT_TRUE(j.is_object() && j.contains("error")) << r.body;
    EXPECT_NE(j["error"].get<std::string>().find(c.says), std::string::npos)
        << c.body << " -> " << j["error"];
  }
  EXPECT_EQ(State("Bleb").dump(), before);
}

// The description carries what a panel needs beyond captions.
TEST_F(ServeTest, TheDescriptionNamesPagesByIndexColourGroupsAndLinkTargets) {
  const nlohmann::json bleb = Json(Get("/api/describe", {{"tool", "Bleb"}}));
  auto control = [](const nlohmann::json& desc, const std::string& caption) {
    for (const auto& c : desc["controls"])
      if (c["caption"] == caption) return c;
    return nlohmann::json();
  };
  EXPECT_EQ(control(bleb, "Sharp 7")["pageIndex"], 7);
  EXPECT_EQ(control(bleb, "Scale")["onImage"], "CirC");
  EXPECT_EQ(control(bleb, "Scale")["linkId"], "Cent");
  EXPECT_EQ(control(bleb, "Angle 3")["linkId"], "Cent");
  EXPECT_TRUE(control(bleb, "Amplitude 1")["colourGroup"].is_null());
  if (!Has("Candle")) GTEST_SKIP() << "Candle is not built";
  const nlohmann::json candle = Json(Get("/api/describe", {{"tool", "Candle"}}));
  const nlohmann::json green = control(candle, "Color 2 Green")["colourGroup"];
  EXPECT_EQ(green, nlohmann::json({{"name", "Color 2"}, {"number", 2}, {"channel", 1}}));
  // The outline points form a ring: each names the one declared before it.
  EXPECT_EQ(control(candle, "Bottom Right")["link"], "Curve Point 2");
  EXPECT_EQ(control(candle, "Top Right")["link"], "Bottom Right");
}

TEST_F(ServeTest, CompositionsAreSavedAndLoadedInsideTheFoldersOnly) {
  EXPECT_EQ(State("Bleb")["unsaved"], false);
  ASSERT_EQ(Post("/api/change", R"({"tool":"Bleb","id":"Rota","value":45,"time":0})").status, 200);
  EXPECT_EQ(State("Bleb")["unsaved"], true);
  const HttpResponse saved =
      Post("/api/save", R"({"tool":"Bleb","time":0,"root":0,"path":"shot.vcomp"})");
  ASSERT_EQ(saved.status, 200) << saved.body;
  EXPECT_EQ(State("Bleb")["unsaved"], false);
  ASSERT_TRUE(std::filesystem::is_regular_file(folder_ / "shot.vcomp"));
  for (const char* path : {"../shot.vcomp", "/tmp/shot.vcomp", "a//b.vcomp", "missing/x.vcomp"}) {
    const std::string body =
        std::string(R"({"tool":"Bleb","time":0,"root":0,"path":")") + path + "\"}";
    EXPECT_EQ(Post("/api/save", body).status, 400) << path;
    EXPECT_EQ(Post("/api/load", body).status, 400) << path;
  }
  EXPECT_EQ(Post("/api/save", R"({"tool":"Bleb","time":0,"root":1,"path":"x.vcomp"})").status, 400);
  ASSERT_EQ(Post("/api/undo", R"({"tool":"Bleb","time":0})").status, 200);
  EXPECT_EQ(State("Bleb")["values"]["Rota"]["value"], 0.0);
  EXPECT_EQ(State("Bleb")["unsaved"], true);

  // A file that is no composition is refused and the values stay.
  std::ofstream(folder_ / "junk.vcomp") << "not a composition";
  const std::string before = State("Bleb").dump();
  const HttpResponse junk = Post("/api/load", R"({"time":0,"root":0,"path":"junk.vcomp"})");
  EXPECT_EQ(junk.status, 422);
  EXPECT_NE(Json(junk)["error"].get<std::string>().find("junk.vcomp"), std::string::npos);
  EXPECT_EQ(State("Bleb").dump(), before);

  // Unsaved work before a Load: a changed value and a key elsewhere.
  ASSERT_EQ(Post("/api/change", R"({"tool":"Bleb","id":"Rota","value":30,"time":0})").status, 200);
  ASSERT_EQ(Post("/api/key", R"({"tool":"Bleb","id":"BScl","action":"set","time":5})").status, 200);
  const nlohmann::json work = State("Bleb")["values"];
  ASSERT_EQ(work["BScl"]["keys"], nlohmann::json::array({5}));

  const HttpResponse loaded = Post("/api/load", R"({"time":0,"root":0,"path":"shot.vcomp"})");
  ASSERT_EQ(loaded.status, 200) << loaded.body;
  EXPECT_EQ(Json(loaded)["tool"], "Bleb");
  EXPECT_EQ(Json(loaded)["values"]["Rota"]["value"], 45.0);
  EXPECT_EQ(Json(loaded)["values"]["BScl"]["keys"], nlohmann::json::array());
  EXPECT_EQ(Json(loaded)["unsaved"], false);
  EXPECT_EQ(Json(loaded)["undo"], "Load shot.vcomp");
  const nlohmann::json fromFile = Json(loaded)["values"];

  // The Load is one step: undo gives back every value and key as it was,
  // redo the file's again, and the steps before it stay.
  const HttpResponse undone = Post("/api/undo", R"({"tool":"Bleb","time":0})");
  ASSERT_EQ(undone.status, 200) << undone.body;
  EXPECT_EQ(Json(undone)["values"], work);
  EXPECT_EQ(Json(undone)["redo"], "Load shot.vcomp");
  EXPECT_EQ(Json(undone)["unsaved"], true);
  const HttpResponse redone = Post("/api/redo", R"({"tool":"Bleb","time":0})");
  ASSERT_EQ(redone.status, 200) << redone.body;
  EXPECT_EQ(Json(redone)["values"], fromFile);
  ASSERT_EQ(Post("/api/undo", R"({"tool":"Bleb","time":0})").status, 200);
  ASSERT_EQ(Post("/api/undo", R"({"tool":"Bleb","time":0})").status, 200);
  EXPECT_EQ(State("Bleb")["values"]["BScl"]["keys"], nlohmann::json::array());
  EXPECT_EQ(State("Bleb")["values"]["Rota"]["value"], 30.0);
}

// The pictures the viewer can show a frame over: a file bound to an input,
// as the file holds it, and the built-in image of a required input without
// one; other names are refused.
TEST_F(ServeTest, InputPicturesAreTheBoundFilesOrTheBuiltInImages) {
  const std::string file = (folder_ / "plate.png").string();
  vorn::ImageRef plate = vorn::NewImage(5, 3);
  ASSERT_TRUE(plate);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      uint8_t* p = plate->Pixel(x, y);  // BGRA, opaque
      p[0] = uint8_t(10 * x), p[1] = uint8_t(50 * y), p[2] = uint8_t(x + y), p[3] = 255;
    }
  std::string error;
  ASSERT_TRUE(vorn::WriteImage(*plate, file, vorn::ImageFormat::Png, &error)) << error;
  vorn::serve::FileRoots roots;
  ASSERT_TRUE(roots.Add(folder_.string(), &error)) << error;
  vorn::serve::ApiSettings settings;
  settings.token = kToken;
  // A sequence with frame 1 only.
  ASSERT_TRUE(vorn::WriteImage(*plate, (folder_ / "matte.0001.png").string(),
                               vorn::ImageFormat::Png, &error))
      << error;
  settings.session.inputs = {"Background=" + file,
                             "Matte(optional)=" + (folder_ / "matte.#.png").string()};
  api_ = std::make_unique<vorn::serve::Api>(host_, std::move(roots), settings);
  ASSERT_TRUE(api_->Start(&error)) << error;

  const nlohmann::json candle = Json(Get("/api/inputs", {{"tool", "Candle"}}));
  EXPECT_EQ(candle["inputs"], nlohmann::json({"Background", "Matte(optional)"}));
  EXPECT_EQ(candle["sequences"], nlohmann::json({"Matte(optional)"}));
  const auto matte = [&](const char* time) {
    return Get("/api/input", {{"tool", "Candle"}, {"name", "Matte(optional)"}, {"time", time}});
  };
  EXPECT_EQ(matte("1").body, Get("/api/input", {{"tool", "Candle"}, {"name", "Background"}}).body);
  EXPECT_EQ(matte("0").status, 422);  // no file for frame 0
  const HttpResponse picture = Get("/api/input", {{"tool", "Candle"}, {"name", "Background"}});
  ASSERT_EQ(picture.status, 200) << picture.body;
  ASSERT_EQ(picture.body.size(), 5u * 3u * 4u);
  EXPECT_EQ(picture.headers[0], (std::pair<std::string, std::string>{"X-Width", "5"}));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const auto* rgba = reinterpret_cast<const uint8_t*>(picture.body.data()) + (y * 5 + x) * 4;
      EXPECT_EQ(rgba[0], x + y) << x << "," << y;
      EXPECT_EQ(rgba[1], 50 * y) << x << "," << y;
      EXPECT_EQ(rgba[2], 10 * x) << x << "," << y;
      EXPECT_EQ(rgba[3], 255) << x << "," << y;
    }
  // Bleb's required input has no file here: its built-in image, at the size
  // of Bleb's images.
  EXPECT_EQ(Json(Get("/api/inputs", {{"tool", "Bleb"}}))["inputs"], nlohmann::json({"Input"}));
  const HttpResponse builtIn = Get("/api/input", {{"tool", "Bleb"}, {"name", "Input"}});
  ASSERT_EQ(builtIn.status, 200) << builtIn.body;
  const nlohmann::json bleb = State("Bleb");
  EXPECT_EQ(builtIn.body.size(), bleb["width"].get<size_t>() * bleb["height"].get<size_t>() * 4);
  EXPECT_EQ(Get("/api/input", {{"tool", "Bleb"}, {"name", "Background"}}).status, 404);
  EXPECT_EQ(Get("/api/input", {{"tool", "Candle"}, {"name", "../plate.png"}}).status, 404);
  EXPECT_EQ(Get("/api/input", {{"tool", "Candle"}}).status, 400);
  EXPECT_EQ(Get("/api/input", {{"tool", "Nothing"}, {"name", "Background"}}).status, 404);
}

// An export renders the session's values on the session's pictures, read
// as the run was told (colour space, pixel aspect): its files are those
// `vorn render` writes from a composition of the same values.
TEST_F(ServeTest, ExportWritesWhatRenderWrites) {
  const std::string plate = (folder_ / "plate.png").string();
  vorn::ImageRef card = vorn::NewImage(48, 30);
  ASSERT_TRUE(card);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 48; ++x) {
      uint8_t* p = card->Pixel(x, y);  // BGRA, opaque
      p[0] = uint8_t(5 * x), p[1] = uint8_t(8 * y), p[2] = uint8_t(3 * (x + y)), p[3] = 255;
    }
  std::string error;
  ASSERT_TRUE(vorn::WriteImage(*card, plate, vorn::ImageFormat::Png, &error)) << error;
  vorn::serve::FileRoots roots;
  ASSERT_TRUE(roots.Add(folder_.string(), &error)) << error;
  vorn::serve::ApiSettings settings;
  settings.token = kToken;
  settings.session.inputs = {"Input=" + plate};
  settings.session.inputColourSpaces = {"Input=linear"};
  settings.session.aspect = 2.0;
  settings.session.lastFrame = 20;
  api_ = std::make_unique<vorn::serve::Api>(host_, std::move(roots), settings);
  ASSERT_TRUE(api_->Start(&error)) << error;

  ASSERT_EQ(Post("/api/change", R"({"tool":"Bleb","id":"Amp1","value":2,"time":0})").status, 200);
  const HttpResponse r =
      Post("/api/export", R"({"tool":"Bleb","time":0,"root":0,"path":"out.#.png","frames":"2-3"})");
  ASSERT_EQ(r.status, 200) << r.body;
  ASSERT_EQ(Post("/api/save", R"({"tool":"Bleb","time":0,"root":0,"path":"values.vcomp"})").status,
            200);
  vorn::RenderSettings render;
  render.tool = "Bleb";
  render.inputs = {"Input=" + plate};
  render.inputColourSpaces = {"Input=linear"};
  render.aspect = "2";
  render.actions = {{vorn::RenderAction::Kind::Comp, (folder_ / "values.vcomp").string()}};
  render.frames = "2-3";
  render.out = (folder_ / "render.#.png").string();
  render.quiet = true;
  ASSERT_EQ(vorn::RunRender(host_, render).exitCode, vorn::kExitOk);
  auto bytes = [&](const std::string& name) {
    std::ifstream in(folder_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  for (const char* frame : {"0002", "0003"}) {
    const std::string exported = bytes(std::string("out.") + frame + ".png");
    EXPECT_FALSE(exported.empty()) << frame;
    EXPECT_EQ(exported, bytes(std::string("render.") + frame + ".png")) << frame;
  }
  // Without the colour space the plate reads otherwise: the options count.
  render.inputColourSpaces.clear();
  render.out = (folder_ / "srgb.#.png").string();
  ASSERT_EQ(vorn::RunRender(host_, render).exitCode, vorn::kExitOk);
  EXPECT_NE(bytes("srgb.0002.png"), bytes("out.0002.png"));

  const char* refused[] = {
      R"({"tool":"Bleb","time":0,"root":0,"path":"out.png","frames":"2-3"})",
      R"({"tool":"Bleb","time":0,"root":0,"path":"out.#.gif","frames":"2"})",
      R"({"tool":"Bleb","time":0,"root":0,"path":"../out.#.png","frames":"2"})",
      R"({"tool":"Bleb","time":0,"root":0,"path":"out.#.png","frames":"2-99"})",
      R"({"tool":"Bleb","time":0,"root":0,"path":"out.#.png","frames":"x"})",
  };
  for (const char* body : refused) EXPECT_EQ(Post("/api/export", body).status, 400) << body;
  // Nor over an image it is made from.
  const HttpResponse over =
      Post("/api/export", R"({"tool":"Bleb","time":0,"root":0,"path":"plate.png","frames":"2"})");
  EXPECT_EQ(over.status, 422) << over.body;
  EXPECT_NE(over.body.find("would be written over"), std::string::npos) << over.body;
}

// Every file an export would write is checked, frame by frame and with its
// folders' links resolved, in the folder the request names; a frame number
// in a folder part is refused (it would name a new folder per frame).
TEST_F(ServeTest, ExportsStayInsideTheirFolder) {
  namespace fs = std::filesystem;
  const fs::path outside = folder_.string() + "-outside";
  fs::remove_all(outside);
  fs::create_directories(outside);
  fs::create_directories(folder_ / "d");
  fs::create_symlink(outside, folder_ / "d0001");
  fs::create_symlink(outside, folder_ / "away");
  fs::create_symlink(outside / "o.0003.png", folder_ / "o.0003.png");
  ASSERT_EQ(::mkfifo((folder_ / "pipe.vcomp").c_str(), 0600), 0);
  auto body = [](const std::string& path, const std::string& frames) {
    return R"({"tool":"Bleb","time":0,"root":0,"path":")" + path + R"(","frames":")" + frames +
           "\"}";
  };
  struct Case {
    std::string path, frames, message;
  };
  const std::vector<Case> refused = {
      {"d#/o.#.png", "1", "not in a folder name"},   {"d%04d/o.png", "1", "not in a folder name"},
      {"away/o.#.png", "1-2", "leads out of"},       {"away/new/o.#.png", "1", "leads out of"},
      {"o.#.png", "1-3", "o.0003.png leads out of"},
  };
  for (const Case& c : refused) {
    const HttpResponse r = Post("/api/export", body(c.path, c.frames));
    EXPECT_EQ(r.status, 400) << c.path << ": " << r.body;
    EXPECT_NE(Json(r)["error"].get<std::string>().find(c.message), std::string::npos) << r.body;
  }
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_FALSE(fs::exists(folder_ / "o.0001.png"));
  const HttpResponse save =
      Post("/api/save", R"({"tool":"Bleb","time":0,"root":0,"path":"pipe.vcomp"})");
  EXPECT_EQ(save.status, 400) << save.body;
  EXPECT_TRUE(fs::is_fifo(folder_ / "pipe.vcomp"));

  // Missing folders inside are made; a link that stays inside is followed.
  fs::create_symlink(folder_ / "d", folder_ / "near");
  for (const char* path : {"new/deeper/o.#.png", "near/o.#.png"}) {
    const HttpResponse r = Post("/api/export", body(path, "4"));
    ASSERT_EQ(r.status, 200) << path << ": " << r.body;
  }
  EXPECT_TRUE(fs::is_regular_file(folder_ / "new/deeper/o.0004.png"));
  EXPECT_TRUE(fs::is_regular_file(folder_ / "d/o.0004.png"));
  fs::remove_all(outside);
}

// An export reports the files written as it goes, refuses a second one
// meanwhile, and a cancel ends it early with whole files only: those it
// lists, and no others.
TEST_F(ServeTest, AnExportShowsItsProgressAndCanBeCancelled) {
  namespace fs = std::filesystem;
  std::string error;
  vorn::serve::FileRoots roots;
  ASSERT_TRUE(roots.Add(folder_.string(), &error)) << error;
  vorn::serve::ApiSettings settings;
  settings.token = kToken;  // full-size images, frames 0 to 100: seconds of work
  api_ = std::make_unique<vorn::serve::Api>(host_, std::move(roots), settings);
  ASSERT_TRUE(api_->Start(&error)) << error;
  EXPECT_EQ(Json(Get("/api/export/status"))["running"], false);
  EXPECT_EQ(Json(Post("/api/export/cancel", "{}"))["cancelling"], false);  // nothing to cancel

  const std::string body =
      R"({"tool":"Bleb","time":0,"root":0,"path":"out/b.#.png","frames":"0-100"})";
  vorn::serve::HttpResponse result;
  std::atomic<bool> over{false};
  std::thread exporter([&] {
    result = Post("/api/export", body);
    over = true;
  });
  std::vector<int> seen;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!over && std::chrono::steady_clock::now() < limit) {
    const nlohmann::json status = Json(Get("/api/export/status"));
    if (status["running"] == true) {
      seen.push_back(status["done"].get<int>());
      EXPECT_EQ(status["total"], 101);
      EXPECT_EQ(status["tool"], "Bleb");
      if (seen.back() >= 2) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(Post("/api/export", body).status, 409);
  EXPECT_EQ(Json(Post("/api/export/cancel", "{}"))["cancelling"], true);
  exporter.join();

  ASSERT_EQ(result.status, 200) << result.body;
  const nlohmann::json r = Json(result);
  EXPECT_EQ(r["cancelled"], true);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GE(seen.back(), 2);
  const size_t written = r["written"].size();
  EXPECT_GE(written, size_t(seen.back()));
  EXPECT_LT(written, 101u);
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder_ / "out")) {
    ++files;
    EXPECT_TRUE(vorn::ReadImage(entry.path().string(), &error)) << entry.path() << error;
  }
  EXPECT_EQ(files, written);
  const nlohmann::json status = Json(Get("/api/export/status"));
  EXPECT_EQ(status["running"], false);
  EXPECT_EQ(status["done"], written);
  // The next export is not cancelled by the last one's cancel.
  const vorn::serve::HttpResponse again =
      Post("/api/export", R"({"tool":"Bleb","time":0,"root":0,"path":"one.png","frames":"5"})");
  ASSERT_EQ(again.status, 200) << again.body;
  EXPECT_EQ(Json(again)["cancelled"], false);
  EXPECT_TRUE(fs::is_regular_file(folder_ / "one.png"));
}

}  // namespace
}  // namespace servetest

// A vorn serve API over the built tool libraries, in a fresh folder, with
// small built-in images so that frames render quickly.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "serve/api.h"

namespace servetest {

inline constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

class ServeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("vorn-serve-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    std::string error;
    vorn::PluginSearch search;
    search.folders = {TOOL_PLUGIN_FOLDER};
    search.origin = "--plugins";
    ASSERT_TRUE(host_.LoadPlugins(search, true, &error)) << error;
    vorn::serve::FileRoots roots;
    ASSERT_TRUE(roots.Add(folder_.string(), &error)) << error;
    vorn::serve::ApiSettings settings;
    settings.token = kToken;
    settings.session.width = 64;
    settings.session.height = 36;
    settings.session.firstFrame = 0;
    settings.session.lastFrame = 20;
    settings.webDir = folder_.string();
    api_ = std::make_unique<vorn::serve::Api>(host_, std::move(roots), settings);
    ASSERT_TRUE(api_->Start(&error)) << error;
  }
  void TearDown() override {
    api_.reset();
    std::filesystem::remove_all(folder_);
  }

  bool Has(const char* tool) {
    std::string error;
    return host_.FindTool(tool, &error) != nullptr;
  }

  vorn::serve::HttpResponse Get(const std::string& path,
                                std::map<std::string, std::string> query = {}) {
    vorn::serve::HttpRequest r;
    r.method = "GET";
    r.path = path;
    r.query = std::move(query);
    r.tokenHeader = kToken;
    return api_->Handle(r);
  }
  vorn::serve::HttpResponse Post(const std::string& path, const std::string& body) {
    vorn::serve::HttpRequest r;
    r.method = "POST";
    r.path = path;
    r.body = body;
    r.cookie = std::string("vorn_token=") + kToken;
    return api_->Handle(r);
  }
  nlohmann::json Json(const vorn::serve::HttpResponse& r) {
    return nlohmann::json::parse(r.body, nullptr, false);
  }
  nlohmann::json State(const std::string& tool, int time = 0) {
    return Json(Get("/api/state", {{"tool", tool}, {"time", std::to_string(time)}}));
  }
  // Frame `time` of `tool` rendered with the values held now.
  vorn::serve::HttpResponse CurrentFrame(const std::string& tool, int time) {
    const std::string version = State(tool, time)["version"].dump();
    return Get("/api/frame",
               {{"tool", tool}, {"time", std::to_string(time)}, {"version", version}});
  }
  // Frame 0 of `tool` at `version` (as /api/state gives it), with `extra`
  // query fields (band, scale, format).
  vorn::serve::HttpResponse FrameAt(const std::string& tool, const std::string& version,
                                    std::map<std::string, std::string> extra = {}) {
    extra.insert({{"tool", tool}, {"time", "0"}, {"version", version}});
    return Get("/api/frame", std::move(extra));
  }

  vorn::Host host_;
  std::filesystem::path folder_;
  std::unique_ptr<vorn::serve::Api> api_;
};

}  // namespace servetest

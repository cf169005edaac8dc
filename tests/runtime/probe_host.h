// Test helpers: load the probe plug-in and drive its operators as a host would.
#pragma once

#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scoped_env.h"

namespace probe {

inline std::string ProbePath() {
  return std::string(PROBE_PLUGIN_DIR) + "/probe.so";
}
inline std::string BrokenPath() {
  return std::string(PROBE_PLUGIN_DIR) + "/broken/broken_probe.so";
}
inline std::string EmptyPath() {
  return std::string(PROBE_PLUGIN_DIR) + "/empty/empty_probe.so";
}

class ProbeHost : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(loader.Load(ProbePath(), &error)) << error;
    registry = df::ClassRegistry->FindByClassName("ProbePlugIn");
    ASSERT_NE(registry, nullptr);
  }

  df::OperatorPtr Create() {
    std::string error;
    df::OperatorPtr op = doc.CreateOperator(registry, &error);
    EXPECT_TRUE(op) << error;
    return op;
  }

  static df::Input* In(df::Operator& op, const char* name) {
    df::Input* input = op.FindInputByName(name);
    EXPECT_NE(input, nullptr) << name;
    return input;
  }

  static void Set(df::Input* input, double v, double time = 0, int flag = 1) {
    df::Number n(v);
    input->SetValue(&n, time, flag);
  }

  // Renders one frame; returns the delivered image (caller recycles) or null.
  static df::Image* Render(df::Operator& op, df::Image* source, df::Image* matte = nullptr,
                           double time = 0) {
    df::Request request(&op, time);
    request.SetInputImage(op.FindInputByName("Input"), source);
    if (matte) request.SetInputImage(op.FindInputByName("Matte(optional)"), matte);
    op.Process(&request);
    return static_cast<df::Image*>(request.TakeOutputData(op.Outputs().at(0).get()));
  }

  static std::vector<uint8_t> SaveToBytes(df::CPipelineDoc& doc, df::Operator& op) {
    std::vector<uint8_t> bytes;
    {
      df::CArchive archive(&bytes);
      std::string error;
      EXPECT_TRUE(doc.SaveOperator(&op, archive, &error)) << error;
    }
    return bytes;
  }

  df::App app;
  df::PluginLoader loader;
  df::CPipelineDoc doc;
  df::Registry* registry = nullptr;
};

using testsupport::ScopedEnv;

}  // namespace probe

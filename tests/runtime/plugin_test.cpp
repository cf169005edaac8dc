#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "probe_host.h"

using namespace df;
using probe::ProbeHost;

TEST(PluginLoader, LoadRegistersAndUnloadRemoves) {
  {
    PluginLoader loader;
    std::string error;
    ASSERT_TRUE(loader.Load(probe::ProbePath(), &error)) << error;
    Registry* r = ClassRegistry->FindByClassName("ProbePlugIn");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ClassRegistry->FindByName("Probe"), r);
    EXPECT_EQ(ClassRegistry->FindByClassID(0x8001FF01), r);
    EXPECT_EQ(r->ShortName(), "Prb");
    EXPECT_EQ(r->OpType(), 3);
    EXPECT_EQ(r->Tags().Items().front().tag, REG_InitFunc);
    EXPECT_EQ(r->Tags().Items().back().tag, REG_ToolCode);

    const Resource* tile = r->FindResource(r->TileBitmap());
    ASSERT_NE(tile, nullptr);
    ASSERT_GE(tile->size, 54u);
    EXPECT_EQ(tile->data[0], 'B');
    EXPECT_EQ(tile->data[1], 'M');

    // The same library again: nothing new, no error.
    EXPECT_TRUE(loader.Load(probe::ProbePath(), &error)) << error;
    EXPECT_EQ(loader.Plugins().size(), 1u);
    EXPECT_TRUE(loader.Unload(probe::ProbePath()));
    EXPECT_EQ(ClassRegistry->FindByClassName("ProbePlugIn"), nullptr);
  }
  EXPECT_TRUE(ClassRegistry->All().empty());
}

TEST(PluginLoader, RefusesLibrariesThatRegisterNothingOrTwice) {
  PluginLoader loader;
  std::string error;
  EXPECT_FALSE(loader.Load(probe::EmptyPath(), &error));
  EXPECT_NE(error.find("registers no tool"), std::string::npos) << error;
  EXPECT_FALSE(loader.Load("/nonexistent/tool.so", &error));
  EXPECT_NE(error.find("/nonexistent/tool.so"), std::string::npos);

  // A copy of a loaded library under another name registers the same class.
  const auto copy = std::filesystem::temp_directory_path() / "probe_copy_for_test.so";
  std::filesystem::copy_file(probe::ProbePath(), copy,
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_TRUE(loader.Load(probe::ProbePath(), &error)) << error;
  EXPECT_FALSE(loader.Load(copy.string(), &error));
  EXPECT_NE(error.find("already registered"), std::string::npos) << error;
  EXPECT_EQ(ClassRegistry->All().size(), 1u);
  std::filesystem::remove(copy);
}

TEST(PluginLoader, ToolLibrariesExportNothing) {
  for (const std::string& path : {probe::ProbePath(), probe::BrokenPath()}) {
    const std::string command = "nm -D --defined-only " + path + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(pipe);
    std::string symbols;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get())) symbols += line;
    EXPECT_EQ(symbols, "") << path;
  }
}

TEST(PluginLoader, BadDeclarationsAreRefusedAtCreation) {
  PluginLoader loader;
  std::string error;
  ASSERT_TRUE(loader.Load(probe::BrokenPath(), &error)) << error;
  Registry* r = ClassRegistry->FindByClassName("BrokenPlugIn");
  ASSERT_NE(r, nullptr);
  CPipelineDoc doc;
  const struct {
    const char* kind;
    const char* message;
  } cases[] = {{"int-for-double", "INP_MinAllowed takes a double, not a integer"},
               {"unknown-tag", "unknown tag 0x10039999"},
               {"duplicate-id", "duplicate id Levl"}};
  for (const auto& c : cases) {
    probe::ScopedEnv env("BROKEN_PROBE_KIND", c.kind);
    OperatorPtr op = doc.CreateOperator(r, &error);
    EXPECT_FALSE(op) << c.kind;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
  probe::ScopedEnv env("BROKEN_PROBE_KIND", "none");
  EXPECT_TRUE(doc.CreateOperator(r, &error)) << error;
}

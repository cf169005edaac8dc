// The golden renders of every tool: tests/golden/<tool>/<case>/ holds case.txt
// (the arguments, see tests/support/golden.h) and expected.png. Each case is
// rendered with 1 and with 7 workers, a fresh operator each time, and must
// match within the case's tolerance (0 for exact bytes).
#include "tests/support/golden.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/contract/tools.h"

namespace contract {
namespace {

using testsupport::GoldenCase;
using testsupport::Pixels;
using testsupport::PluginHost;

struct Golden {
  const Tool* tool;
  GoldenCase c;
  std::string error;  // the case folder could not be read
};

void PrintTo(const Golden& g, std::ostream* os) {
  *os << g.tool->name << "/" << g.c.name;
}

std::vector<Golden> AllCases() {
  std::vector<Golden> all;
  for (const Tool& t : Tools()) {
    std::vector<GoldenCase> cases;
    std::string error;
    if (!testsupport::ReadGoldenCases(std::string(GOLDEN_DIR) + "/" + t.name, &cases, &error)) {
      GoldenCase unreadable;
      unreadable.name = "unreadable";
      all.push_back({&t, unreadable, error});
    }
    for (GoldenCase& c : cases) all.push_back({&t, std::move(c), ""});
  }
  return all;
}

class GoldenRender : public ::testing::TestWithParam<Golden> {};

TEST_P(GoldenRender, MatchesTheReference) {
  const Golden& g = GetParam();
  ASSERT_TRUE(g.error.empty()) << g.error;
  PluginHost host;
  std::string error;
  ASSERT_TRUE(host.Load(g.tool->library, g.tool->className, &error)) << error;
  std::vector<Pixels> pictures(g.c.inputs.size());
  std::vector<std::pair<std::string, const Pixels*>> images;
  for (size_t i = 0; i < g.c.inputs.size(); ++i) {
    ASSERT_TRUE(Picture(g.tool->name, g.c.inputs[i].second, g.c.width, g.c.height, &pictures[i]))
        << "unknown picture " << g.c.inputs[i].second;
    images.push_back({g.c.inputs[i].first, &pictures[i]});
  }
  for (int workers : {1, 7}) {
    df::OperatorPtr op = host.Create();
    ASSERT_TRUE(op);
    for (const auto& [caption, value] : g.c.sets)
      ASSERT_TRUE(PluginHost::Set(*op, caption, value)) << caption << "=" << value;
    Pixels out;
    for (int f = 0; f < g.c.frames; ++f)
      out = PluginHost::Render(*op, images, g.c.time + f, workers, g.c.aspect);
    std::string message;
    EXPECT_TRUE(testsupport::MatchesGolden(g.c, out, &message))
        << workers << " workers: " << message;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenRender, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Golden>& info) {
                           return info.param.tool->name + "_" + info.param.c.name;
                         });

}  // namespace
}  // namespace contract

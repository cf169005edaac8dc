#include "colour_space.h"

#include <OpenImageIO/color.h>
#include <OpenImageIO/imagebufalgo.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "value_parse.h"

namespace vorn {
namespace {

namespace oiio = OIIO;

const char* const kBuiltIn[] = {"sRGB", "linear", "Rec709"};

// One configuration for the whole run: reading it is costly, and the
// processors it makes are kept.
oiio::ColorConfig& Config() {
  static oiio::ColorConfig config;
  return config;
}

using Chain = std::vector<oiio::ColorProcessorHandle>;

// The processors that take values from one space to another: one where the
// library converts directly, else two through "linear" (a configuration
// without an "sRGB" space still reaches the built-in one that way). Empty
// when there is no way.
const Chain& ChainFor(const std::string& from, const std::string& to) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, std::string>, Chain> chains;
  std::lock_guard lock(mutex);
  auto [it, added] = chains.try_emplace({from, to});
  if (!added) return it->second;
  oiio::ColorConfig& config = Config();
  Chain chain;
  if (auto direct = config.createColorProcessor(from, to)) {
    chain.push_back(direct);
  } else {
    auto first = config.createColorProcessor(from, kLinearColourSpace);
    auto second = config.createColorProcessor(kLinearColourSpace, to);
    if (first && second) chain = {first, second};
  }
  config.geterror();  // a failed attempt leaves its message; it is ours to report
  it->second = std::move(chain);
  return it->second;
}

}  // namespace

std::vector<std::string> KnownColourSpaces() {
  std::vector<std::string> names;
  {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    names = Config().getColorSpaceNames();
  }
  for (const char* b : kBuiltIn) {
    bool have = false;
    for (const std::string& n : names) have = have || AsciiLower(n) == AsciiLower(b);
    if (!have) names.push_back(b);
  }
  return names;
}

bool SameColourSpace(const std::string& a, const std::string& b) {
  return AsciiLower(a) == AsciiLower(b);
}

bool CheckColourSpace(const std::string& name, std::string* error) {
  if (SameColourSpace(name, kToolColourSpace)) return true;
  if (!name.empty() && !ChainFor(name, kToolColourSpace).empty() &&
      !ChainFor(kToolColourSpace, name).empty())
    return true;
  const char* ocio = std::getenv("OCIO");
  *error = "unknown colour space \"" + name + "\"; known: " + QuotedList(KnownColourSpaces()) +
           (ocio && *ocio
                ? std::string(" (the configuration of $OCIO, ") + ocio + ", and the built-in names)"
                : std::string(" (built in; set $OCIO to use an OpenColorIO "
                              "configuration)"));
  return false;
}

bool ConvertColours(oiio::ImageBuf& image, const std::string& from, const std::string& to,
                    bool premultiplied, std::string* error) {
  if (SameColourSpace(from, to)) return true;
  const Chain& chain = ChainFor(from, to);
  if (chain.empty()) {
    *error = "cannot convert colours from \"" + from + "\" to \"" + to + "\"";
    return false;
  }
  for (const oiio::ColorProcessorHandle& p : chain) {
    if (!oiio::ImageBufAlgo::colorconvert(image, image, p.get(), premultiplied)) {
      *error =
          "cannot convert colours from \"" + from + "\" to \"" + to + "\": " + image.geterror();
      return false;
    }
  }
  return true;
}

}  // namespace vorn

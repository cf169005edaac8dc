// A tool whose declarations are wrong in the ways the host must catch: a double
// tag given an integer, an unknown tag and a duplicate input id.
#include "framework/lifecycle.h"
#include "framework/tile.h"
#include "tests/probe/probe_tags.h"

namespace {

using namespace df;

class BrokenPlugIn : public ThreadedOperator {
 public:
  BrokenPlugIn(Registry* registry, CArchive* archive, TagList* tags)
      : ThreadedOperator(registry, archive, tags) {
    AddControlPage("Controls", 0);
    const char* which = getenv("BROKEN_PROBE_KIND");
    const std::string kind = which ? which : "int-for-double";
    if (kind == "int-for-double") {
      AddInput("Level", kTypeNumber, FourCC("Levl"),
               {{INP_Control, kSliderControl}, {INP_MinAllowed, 0}, {INP_Default, 1.0}});
    } else if (kind == "unknown-tag") {
      AddInput("Level", kTypeNumber, FourCC("Levl"),
               {{INP_Control, kSliderControl}, {0x10039999u, 5}});
    } else if (kind == "duplicate-id") {
      AddInput("Level", kTypeNumber, FourCC("Levl"), probe::Slider(0, 0.5, 1));
      AddInput("Other", kTypeNumber, FourCC("Levl"), probe::Slider(0, 0.5, 1));
    }
    AddInput("Input", kTypeImage, ImageInputId(1), {});
    AddOutput("Output", kTypeImage, OutputId(1));
    if (archive) fw::ReadTrailer(archive);
  }
  uint32_t Save(CArchive* archive, TagList* tags) override {
    return fw::SaveRecord(*this, archive, tags, 0x8001FF02);
  }
};

Registry gBrokenRegistry(&ClassRegistry, "BrokenPlugIn",
                         {{REG_InitFunc, &Operator::RegInit},
                          {REG_CleanupFunc, &Operator::RegCleanup},
                          {REG_CreateFunc, &fw::CreateOperator<BrokenPlugIn>},
                          {REG_ClassID, 0x8001FF02u},
                          {REG_OpType, 3},
                          {REG_TileBitmap, fw::kTileBitmapId},
                          {REG_PackName, "Vorn_Test"},
                          {REG_ShortName, "Brk"},
                          {REG_Description, "Broken declarations"},
                          {REG_Name, "Broken"},
                          {REG_HelpFile, "Broken.hlp"},
                          {REG_ToolCode, 0x0101FF02}},
                         {fw::TileResource()});

}  // namespace

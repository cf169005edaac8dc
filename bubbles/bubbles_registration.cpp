// The record that makes the tool known to the host when the library loads.
#include "bubbles/bubbles_plugin.h"
#include "framework/lifecycle.h"
#include "framework/tile.h"

namespace {

using namespace df;

Registry gBubblesRegistry(&ClassRegistry, "BubblesPlugIn",
                          {{REG_InitFunc, &Operator::RegInit},
                           {REG_CleanupFunc, &Operator::RegCleanup},
                           {REG_CreateFunc, &fw::CreateOperator<bubbles::BubblesPlugIn>},
                           {REG_ClassID, bubbles::kBubblesClassId},
                           {REG_OpType, 3},
                           {REG_TileBitmap, fw::kTileBitmapId},
                           {REG_PackName, "Vorn_Tamb6"},
                           {REG_ShortName, "Bub"},
                           {REG_Description, "For bubbles simulation"},
                           {REG_Name, "Bubbles"},
                           {REG_HelpFile, "Tamb6.hlp"},
                           {REG_ToolCode, 0x01010601}},
                          {fw::TileResource()});

}  // namespace

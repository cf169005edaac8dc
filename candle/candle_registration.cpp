// The record that makes the tool known to the host when the library loads.
#include "candle/candle_plugin.h"
#include "framework/lifecycle.h"
#include "framework/tile.h"

namespace {

using namespace df;

Registry gCandleRegistry(&ClassRegistry, "CandlePlugIn",
                         {{REG_InitFunc, &Operator::RegInit},
                          {REG_CleanupFunc, &Operator::RegCleanup},
                          {REG_CreateFunc, &fw::CreateOperator<candle::CandlePlugIn>},
                          {REG_ClassID, candle::kCandleClassId},
                          {REG_OpType, 3},
                          {REG_TileBitmap, fw::kTileBitmapId},
                          {REG_PackName, "Vorn_Tamb9"},
                          {REG_ShortName, "Can"},
                          {REG_Description, "Flame simulation"},
                          {REG_Name, "Candle"},
                          {REG_HelpFile, "Tamb9.hlp"},
                          {REG_ToolCode, 0x01010902}},
                         {fw::TileResource()});

}  // namespace

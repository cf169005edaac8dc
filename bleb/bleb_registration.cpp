// The record that makes the tool known to the host when the library loads.
#include "bleb/bleb_plugin.h"
#include "framework/lifecycle.h"
#include "framework/tile.h"

namespace {

using namespace df;

Registry gBlebRegistry(&ClassRegistry, "BlebPlugIn",
                       {{REG_InitFunc, &Operator::RegInit},
                        {REG_CleanupFunc, &Operator::RegCleanup},
                        {REG_CreateFunc, &fw::CreateOperator<bleb::BlebPlugIn>},
                        {REG_ClassID, bleb::kBlebClassId},
                        {REG_OpType, 3},
                        {REG_TileBitmap, fw::kTileBitmapId},
                        {REG_PackName, "Vorn_Tamb9"},
                        {REG_ShortName, "Blb"},
                        {REG_Description, "For \"blebbing\" images"},
                        {REG_Name, "Bleb"},
                        {REG_HelpFile, "Tamb9.hlp"},
                        {REG_ToolCode, 0x01010901}},
                       {fw::TileResource()});

}  // namespace

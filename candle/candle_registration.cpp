// The record that makes the tool known to the host when the library loads.
#include "candle/candle_plugin.h"

namespace {

df::Registry gCandleRegistry = fw::Register<candle::CandlePlugIn>(candle::kTool);

}  // namespace

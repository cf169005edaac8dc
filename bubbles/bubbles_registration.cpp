// The record that makes the tool known to the host when the library loads.
#include "bubbles/bubbles_plugin.h"

namespace {

df::Registry gBubblesRegistry = fw::Register<bubbles::BubblesPlugIn>(bubbles::kTool);

}  // namespace

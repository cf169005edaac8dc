// The record that makes the tool known to the host when the library loads.
#include "bleb/bleb_plugin.h"

namespace {

df::Registry gBlebRegistry = fw::Register<bleb::BlebPlugIn>(bleb::kTool);

}  // namespace

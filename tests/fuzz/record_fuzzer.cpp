// libFuzzer target: any byte string handed to the record reader and to the
// host's operator loading must be refused cleanly or load a whole operator.
#include <dfsystem/dfsystem.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct Host {
  Host() {
    std::string error;
    if (!loader.Load(std::string(PROBE_PLUGIN_DIR) + "/probe.so", &error)) std::abort();
  }
  df::App app;
  df::PluginLoader loader;
  df::CPipelineDoc doc;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Host host;
  std::string error;
  {
    df::CArchive archive(data, size);
    df::SavedRecord record;
    df::ReadSavedRecord(archive, &record, &error);
  }
  df::CArchive archive(data, size);
  df::OperatorPtr op = host.doc.LoadOperator(archive, &error);
  if (op) {
    // A loaded operator must save again without trouble.
    std::vector<uint8_t> bytes;
    df::CArchive out(&bytes);
    if (!host.doc.SaveOperator(op.get(), out, &error)) std::abort();
  }
  return 0;
}

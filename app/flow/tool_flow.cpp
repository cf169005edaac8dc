#include "flow/tool_flow.h"

#include "flow/tool_record.h"

namespace vorn::flow {

std::string FreeName(const Flow& flow, const std::string& name) {
  std::string candidate = name;
  for (int n = 2; flow.Find(candidate); ++n) candidate = name + " " + std::to_string(n);
  return candidate;
}

bool SavesFlow(const std::string& path) {
  return path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
}

bool FlowOfRender(Host& host, const RenderSettings& s, RenderJob& job, Flow* flow,
                  std::string* error) {
  *flow = Flow();
  // The tool node is a copy of the render's operator, made through its record.
  std::vector<uint8_t> record;
  if (!SavedRecordBytes(host, *job.op, &record, error)) return false;
  df::CArchive archive(record.data(), record.size());
  Node tool;
  tool.name = job.toolName;
  tool.op = host.Doc().LoadOperator(archive, error);
  if (!tool.op) return false;
  const std::string toolName = tool.name;
  std::vector<std::pair<std::string, std::string>> reads;  // node, input
  for (const InputBinding& b : job.driver.Bindings()) {
    if (b.file.empty()) continue;
    Node read;
    read.kind = NodeKind::Read;
    read.name = FreeName(*flow, b.caption);
    read.read.file = b.file;
    read.read.colourSpace = b.read.colourSpace;
    read.read.layer = b.read.layer;
    reads.push_back({read.name, b.caption});
    if (!flow->Add(std::move(read), error)) return false;
  }
  tool.name = FreeName(*flow, toolName);
  const std::string toolNode = tool.name;
  if (!flow->Add(std::move(tool), error)) return false;
  for (const auto& [node, input] : reads)
    if (!flow->Connect(node, toolNode, input, error)) return false;
  if (job.pattern) {
    Node write;
    write.kind = NodeKind::Write;
    write.name = FreeName(*flow, "Write");
    write.write.file = s.out;
    write.write.compression = s.compression;
    write.write.bitDepth = s.bitDepth;
    write.write.colourSpace = s.outputColourSpace;
    const std::string name = write.name;
    if (!flow->Add(std::move(write), error) || !flow->Connect(toolNode, name, "Image", error))
      return false;
  }
  if (!job.allFrames.empty()) {
    flow->shot.first = job.allFrames.front();
    flow->shot.last = job.allFrames.back();
    flow->shot.simulationStart = job.stepped && !job.steps.empty()
                                     ? std::min(job.steps.front(), flow->shot.first)
                                     : flow->shot.first;
  }
  if (job.inputs.size) flow->size = job.inputs.size;
  return true;
}

}  // namespace vorn::flow

#include "dfsystem/operator.h"

#include <algorithm>

#include "dfsystem/app.h"
#include "dfsystem/archive.h"
#include "dfsystem/chunk_trace.h"
#include "dfsystem/document.h"
#include "dfsystem/record.h"
#include "worker_pool.h"

namespace df {
namespace {

// Brings a saved value into what the input accepts, so that a hand-edited
// record cannot smuggle in out-of-range numbers.
ValueState Sanitised(const Input& input, ValueState state) {
  if (input.ValueType() == kTypeNumber) {
    state.constant[0] = input.ClampNumber(state.constant[0]);
    for (Keyframe& k : state.keys) k.v[0] = input.ClampNumber(k.v[0]);
  }
  return state;
}

}  // namespace

Operator::Operator(Registry* registry, CArchive* archive, TagList* tags) : registry_(registry) {
  if (tags) doc = static_cast<CPipelineDoc*>(const_cast<void*>(tags->Pointer(OBJ_Document)));
  if (archive) {
    std::vector<SavedValue> values;
    std::string error;
    if (!ReadHostData(*archive, &values, &error, &hostSettings)) {
      MarkBroken("saved record: " + error);
    } else {
      for (SavedValue& v : values) pending_[v.id] = {v.type, std::move(v.state)};
    }
  }
}

Operator::~Operator() {
  if (doc) doc->ForgetOperator(this);
}

uint32_t Operator::Save(CArchive* archive, TagList*) {
  if (!archive) return 0;
  std::vector<SavedValue> values;
  for (const auto& input : inputs_) {
    if (input->ValueType() == kTypeNumber || input->ValueType() == kTypePoint)
      values.push_back({input->Id(), input->ValueType(), input->State()});
  }
  return WriteHostData(*archive, values, hostSettings) && !archive->Failed() ? 1 : 0;
}

uint32_t Operator::Process(Request*) {
  return 0;
}

void Operator::NotifyChanged(Input*, Parameter*, double) {}

std::shared_ptr<const SimulationState> Operator::SaveSimulation() {
  return nullptr;
}

bool Operator::RestoreSimulation(const SimulationState&) {
  return false;
}

bool Operator::SimulationReads(const Input&) const {
  return true;
}

bool Operator::RegInit(Registry*) {
  return true;
}
bool Operator::RegCleanup(Registry*) {
  return true;
}

void Operator::AddControlPage(const char* caption, int) {
  pages_.emplace_back(caption ? caption : "");
}

Input* Operator::AddInput(const char* name, uint32_t valueType, uint32_t id, TagList tags) {
  const std::string caption = name ? name : "";
  std::string why;
  if (!name) MarkBroken("an input without a caption");
  if (!tags.Validate(&why)) MarkBroken("input \"" + caption + "\": " + why);
  if (valueType != kTypeNumber && valueType != kTypePoint && valueType != kTypeImage)
    MarkBroken("input \"" + caption + "\": unknown value type " + FourCCText(valueType));
  if (FindInput(id) ||
      std::any_of(outputs_.begin(), outputs_.end(), [id](const auto& o) { return o->Id() == id; }))
    MarkBroken("input \"" + caption + "\": duplicate id " + FourCCText(id));

  inputs_.push_back(std::make_unique<Input>(this, caption, valueType, id, std::move(tags),
                                            int(pages_.size()) - 1));
  Input* input = inputs_.back().get();
  auto saved = pending_.find(id);
  if (saved != pending_.end()) {
    if (saved->second.first != valueType)
      MarkBroken("saved record: value of \"" + caption + "\" has type " +
                 FourCCText(saved->second.first) + ", the input takes " + FourCCText(valueType));
    else
      input->RestoreState(Sanitised(*input, std::move(saved->second.second)));
    pending_.erase(saved);
  }
  return input;
}

Output* Operator::AddOutput(const char* name, uint32_t valueType, uint32_t id, TagList tags) {
  const std::string caption = name ? name : "";
  std::string why;
  if (!tags.Validate(&why)) MarkBroken("output \"" + caption + "\": " + why);
  if (FindInput(id) ||
      std::any_of(outputs_.begin(), outputs_.end(), [id](const auto& o) { return o->Id() == id; }))
    MarkBroken("output \"" + caption + "\": duplicate id " + FourCCText(id));
  outputs_.push_back(std::make_unique<Output>(caption, valueType, id));
  return outputs_.back().get();
}

Input* Operator::FindInput(uint32_t id) const {
  for (const auto& input : inputs_)
    if (input->Id() == id) return input.get();
  return nullptr;
}

Input* Operator::FindInputByName(const std::string& name) const {
  for (const auto& input : inputs_)
    if (input->Name() == name) return input.get();
  return nullptr;
}

bool Operator::Healthy(std::string* why) const {
  if (problem_.empty()) return true;
  if (why) *why = problem_;
  return false;
}

void Operator::MarkBroken(const std::string& why) {
  if (problem_.empty()) problem_ = why;
}

void ThreadedOperator::ProcessChunk(Request*, long) {}

uint32_t ThreadedOperator::DoMultiProcess(Request* request, long n) {
  if (n < 1) return 0;
  const App* app = GetApp();
  // Chunks are the tool's decomposition, threads the host's pool: the pool's
  // threads claim chunk indices as they come free.
  int threads = app ? std::max(1, app->threadCount) : 1;
  if (const int workers = ThreadRenderWorkers(); workers > 0) threads = std::min(threads, workers);
  PassRecorder recorder(n);
  const std::function<void(long)> body = [this, request, &recorder](long k) {
    const PassRecorder::Stamp start = recorder.ChunkStart();
    ProcessChunk(request, k);
    recorder.ChunkDone(k, start);
  };
  return WorkerPool::Instance().Run(n, threads, body) ? 1 : 0;
}

}  // namespace df

#include "dfsystem/request.h"

#include <new>

#include "dfsystem/operator.h"

namespace df {

Request::Request(Operator* op, double time) : op_(op), time_(time) {}

Request::~Request() {
  for (auto& [input, image] : images_)
    if (image) image->Recycle();
  for (auto& [output, value] : outputs_)
    if (value) value->Recycle();
}

void Request::SetInputImage(Input* input, Image* image) {
  if (!input) return;
  if (image) image->AddRef();
  Image*& slot = images_[input];
  if (slot) slot->Recycle();
  slot = image;
}

Parameter* Request::GetInputData(Input* input, int) {
  if (!input || input->Owner() != op_) return nullptr;
  switch (input->ValueType()) {
    case kTypeImage: {
      auto it = images_.find(input);
      return it == images_.end() ? nullptr : it->second;
    }
    case kTypeNumber:
      try {
        return &numbers_.emplace_back(input->NumberAt(time_));
      } catch (const std::bad_alloc&) {
        return nullptr;
      }
    case kTypePoint: {
      float x = 0, y = 0;
      input->PointAt(time_, x, y);
      try {
        return &points_.emplace_back(x, y);
      } catch (const std::bad_alloc&) {
        return nullptr;
      }
    }
    default:
      return nullptr;
  }
}

double Request::GetInputTime(Input*, int) const {
  return time_;
}

uint32_t Request::SetOutputData(Output* output, Parameter* value) {
  if (!output) {
    if (value) value->Recycle();
    return 0;
  }
  Parameter*& slot = outputs_[output];
  if (slot) slot->Recycle();
  slot = value;
  return value ? 1 : 0;
}

Parameter* Request::TakeOutputData(Output* output) {
  auto it = outputs_.find(output);
  if (it == outputs_.end()) return nullptr;
  Parameter* value = it->second;
  outputs_.erase(it);
  return value;
}

}  // namespace df

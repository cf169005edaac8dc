// A render request: one frame of one operator at one time.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "dfsystem/input.h"
#include "dfsystem/parameter.h"

namespace df {

class Operator;

class Request {
 public:
  Request(Operator* op, double time);
  ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  // Host side: connects an image to an image input for this request. The
  // request takes a reference and releases it when destroyed.
  void SetInputImage(Input* input, Image* image);

  // The input's value for this request: its Image (null when unconnected), or a
  // Number / Point evaluated at the request's time, owned by the request.
  Parameter* GetInputData(Input* input, int flags = 0);
  double GetInputTime(Input* input, int flags = 0) const;
  // Takes the output value (one reference). Result 1.
  uint32_t SetOutputData(Output* output, Parameter* value);

  double Time() const { return time_; }
  Operator* GetOperator() const { return op_; }
  // Host side: the delivered value of an output, or null. The caller takes the
  // reference.
  Parameter* TakeOutputData(Output* output);

 private:
  Operator* op_;
  double time_;
  std::map<const Input*, Image*> images_;
  // Values handed out by GetInputData, in blocks of the request rather than
  // one allocation each (a frame reads every control).
  std::deque<Number> numbers_;
  std::deque<Point> points_;
  std::map<const Output*, Parameter*> outputs_;
};

}  // namespace df

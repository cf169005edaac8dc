#include "framework/passes.h"

namespace fw {

bool RenderPasses::Run(df::ThreadedOperator& op, df::Request* request, int number, Split split,
                       const RenderFields& fields) {
  if (Aborted(op.abortFlag)) return false;
  pass_ = number;
  workers_ = fields.workerCount;
  extent_ = split == Split::kRows ? fields.height : fields.width;
  op.DoMultiProcess(request, fields.workerCount);
  pass_ = 0;
  return !Aborted(op.abortFlag);
}

}  // namespace fw

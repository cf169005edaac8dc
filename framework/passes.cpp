#include "framework/passes.h"

namespace fw {

bool RenderPasses::Run(df::ThreadedOperator& op, df::Request* request, int number, Split split,
                       const RenderFields& fields) {
  if (Aborted(op.abortFlag)) return false;
  pass_ = number;
  workers_ = fields.workerCount;
  const bool rows = split == Split::kRows;
  perChunk_ = rows ? fields.rowsPerChunk : fields.colsPerChunk;
  extent_ = rows ? fields.height : fields.width;
  op.DoMultiProcess(request, fields.workerCount);
  pass_ = 0;
  return !Aborted(op.abortFlag);
}

}  // namespace fw

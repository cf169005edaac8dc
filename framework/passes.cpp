#include "framework/passes.h"

#include <algorithm>

namespace fw {

bool RenderPasses::Run(df::ThreadedOperator& op, df::Request* request, int number, Split split,
                       const RenderFields& fields) {
  if (Aborted(op.abortFlag)) return false;
  pass_ = number;
  workers_ = fields.workerCount;
  const bool rows = split == Split::kRows;
  perChunk_ = rows ? fields.rowsPerChunk : fields.colsPerChunk;
  extent_ = rows ? fields.height : fields.width;
  evenly_ = false;
  const bool ran = op.DoMultiProcess(request, fields.workerCount) != 0;
  pass_ = 0;
  return ran && !Aborted(op.abortFlag);
}

bool RenderPasses::RunOver(df::ThreadedOperator& op, df::Request* request, int number, int items,
                           const RenderFields& fields, int chunks) {
  if (Aborted(op.abortFlag)) return false;
  pass_ = number;
  workers_ = std::clamp(chunks > 0 ? chunks : fields.workerCount, 1, kMaxWorkers);
  perChunk_ = 0;
  extent_ = std::max(items, 0);
  evenly_ = true;
  const bool ran = op.DoMultiProcess(request, workers_) != 0;
  pass_ = 0;
  evenly_ = false;
  return ran && !Aborted(op.abortFlag);
}

}  // namespace fw

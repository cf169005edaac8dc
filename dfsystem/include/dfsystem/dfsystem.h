// The host runtime: everything a tool or a host program needs.
#pragma once

#include "dfsystem/app.h"
#include "dfsystem/archive.h"
#include "dfsystem/chunk_trace.h"
#include "dfsystem/document.h"
#include "dfsystem/fourcc.h"
#include "dfsystem/input.h"
#include "dfsystem/memory.h"
#include "dfsystem/object.h"
#include "dfsystem/operator.h"
#include "dfsystem/parameter.h"
#include "dfsystem/plugins.h"
#include "dfsystem/processors.h"
#include "dfsystem/record.h"
#include "dfsystem/registry.h"
#include "dfsystem/request.h"
#include "dfsystem/tags.h"

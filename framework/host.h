// The host interface as the tools see it.
#pragma once

#include <dfsystem/dfsystem.h>

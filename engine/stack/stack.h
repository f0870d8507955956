#pragma once

// What the shells use of the stack library: a described stack run, its modes, the point
// operations, and the worker pool they run on.
#include "engine/core/workerpool.h"
#include "engine/stack/modetable.h"
#include "engine/stack/pointops.h"
#include "engine/stack/runstack.h"
#include "engine/stack/stackmode.h"

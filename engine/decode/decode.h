#pragma once

// What the shells use of the decode library: loading a picture file, and file names as the
// system gives them.
#include "engine/core/filenames.h"
#include "engine/decode/imageloader.h"

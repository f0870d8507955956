#pragma once

// What the shells use of the write library: output formats, the atomic save and the first
// input's capture metadata.
#include "engine/write/atomicsave.h"
#include "engine/write/capturemetadata.h"
#include "engine/write/outputformat.h"

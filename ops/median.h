#pragma once

#include "engine/stack/stack.h"

class OpHost;

// "&Median": loads every listed file onto the canvas in turn and paints the per-pixel,
// per-channel median of them all over the area the canvas had when the run began.
void runMedian(OpHost &host, const StackResources &resources = {});

// Frames shot by hand are aligned to the canvas's picture before they are stacked.
enum class Framing { AsShot, Aligned };

// The same run in another mode, titled "Generating <name>..." once the files are loaded. Aligned,
// each file is warped onto the canvas's picture as the run began; one that cannot be is left out
// and counted in a message after "Done".
void stackList(OpHost &host, const StackOptions &options, const QString &name, Framing framing = Framing::AsShot,
               const StackResources &resources = {});

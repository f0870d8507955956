#pragma once

#include "engine/stackrun.h"

class OpHost;

// "&Median": loads every listed file onto the canvas in turn and paints the per-pixel,
// per-channel median of them all over the area the canvas had when the run began.
void runMedian(OpHost &host, const StackResources &resources = {});

// The same run in another mode, titled "Generating <name>..." once the files are loaded.
void runStack(OpHost &host, const StackOptions &options, const QString &name, const StackResources &resources = {});

#pragma once

class OpHost;

// "&Ombrelux": brightens the canvas in place. It cannot be stopped.
void runBrightening(OpHost &host);

#pragma once

#include <QString>

#include <functional>
#include <optional>

class OpHost;

// Asks the person for a file; nullopt when they cancel.
using PathQuestion = std::function<std::optional<QString>()>;

// "&Subtract >>": asks for a second picture while busy and subtracts it from the canvas.
void runSubtraction(OpHost &host, const PathQuestion &askPath);

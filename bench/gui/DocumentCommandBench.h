#pragma once

#include "CommandBenchSupport.h"

namespace ludex::bench {

// Registers the commands on whole documents: resort, Find Next from the top to the last branch,
// Find All, Save and Close. Close comes last, as it reopens the document.
void RegisterDocumentCommands(TShape shape, int n);

} // namespace ludex::bench

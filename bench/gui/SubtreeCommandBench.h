#pragma once

#include "CommandBenchSupport.h"

namespace ludex::bench {

// Registers the commands on the branch that holds a tenth of the large document: removing it and
// undoing that, copying and cutting it and pasting it into the second document, and locking and
// unlocking it in either encryption scheme.
void RegisterSubtreeCommands(TShape shape, int n);

} // namespace ludex::bench

#include "core/crypto/Secret.h"
#include "gui/app/RunProgram.h"

int main(int argc, char** argv) {
    // Before any password can be typed: no core file, and no other process reading our memory.
    ludex::DisableCoreDumps();
    return ludex::RunProgram(argc, argv);
}

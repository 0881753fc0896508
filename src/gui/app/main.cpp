#include "gui/app/RunProgram.h"

int main(int argc, char** argv) {
    return ludex::RunProgram(argc, argv);
}

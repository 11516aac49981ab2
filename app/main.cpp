// Process entry: the framework around the runtime application object. The initialisation
// routine runs the whole life of the program; the exit entry then runs the end sequence.
#include "app/program.h"

int main() {
  app::init_program();
  rt::end_program(0);
}

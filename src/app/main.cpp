#include "conversion_run.h"
#include "platform/console.h"

int main(int argc, char* argv[]) {
  platform::ConsoleInit();
  return app::RunConversion(argc, argv);
}

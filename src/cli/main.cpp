#include "cli/cli.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  return kavo::cli::Run(kavo::platform::CommandLineArguments(argc, argv));
}

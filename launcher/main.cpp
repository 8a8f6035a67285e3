#include "launcher/launcher.h"

// Windows' GUI entry point, declared by hand (the handles are pointers) so
// that only the platform layer includes <windows.h>. The command line it is
// given is not used: the platform reads it by Windows' own rule.
extern "C" int __stdcall WinMain(void* /*instance*/, void* /*previousInstance*/,
                                 char* /*commandLine*/, int /*showCommand*/) {
  return RunLauncher(platform::CommandLineArguments());
}

// What the device action program does to one device.
#pragma once
#include <windows.h>

#include "devexe_args.h"

namespace devexe {

struct Outcome {
  DWORD error = ERROR_SUCCESS;  // the Windows error of the step that failed
  const wchar_t* step = L"";    // that step, for the human reading stderr
  bool restartNeeded = false;
};

Outcome Run(const Request& request);

}  // namespace devexe

#include "output/converter_link.h"

#include <windows.h>

#include "app/state.h"

void ConnectConverter() {
  KillTimer(glMainWnd, 0);
  // Starting the converter and preparing the range surfaces are not built yet.
}

// Not built yet: the button opens nothing so far.
void OpenLatestVersionPage() {}

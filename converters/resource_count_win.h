// What this process holds, counted from inside it: Kelvo answers it when asked, and the tests
// of TallSnap ask it of their own process.
#ifndef TALLSNAP_CONVERTERS_RESOURCE_COUNT_WIN_H
#define TALLSNAP_CONVERTERS_RESOURCE_COUNT_WIN_H

#include <windows.h>

enum class Resource { Gdi = 0, User = 1, Handles = 2 };  // the wParam of Kelvo's count query
DWORD OwnResourceCount(Resource what);

#endif

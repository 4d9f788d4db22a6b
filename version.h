/* One version for TallSnap.exe and its converter programs; read by the .rc files and by CMake. */
#ifndef TALLSNAP_VERSION_H
#define TALLSNAP_VERSION_H

#define TALLSNAP_VERSION_MAJOR 0
#define TALLSNAP_VERSION_MINOR 1
#define TALLSNAP_VERSION_PATCH 0
#define TALLSNAP_VERSION_TEXT "0.1.0"

#endif

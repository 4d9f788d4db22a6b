// The main window's layouts, which the parts below it ask for by name.
#ifndef TALLSNAP_STATE_LAYOUT_H
#define TALLSNAP_STATE_LAYOUT_H

// Kept: a finish could not write the image, which stays; the name, the desktop check and the
// format can be changed beside "終わる" and "キャンセル".
enum class Layout { Start, Range, Capture, Kept };

#endif

// The finish command's rules that need no window: the trim of the tall image and the name
// history.
#ifndef TALLSNAP_OUTPUT_FINISH_CORE_H
#define TALLSNAP_OUTPUT_FINISH_CORE_H

#include <string>
#include <vector>

#include "capture/stitch.h"

// The image height after trimming: scanning up from row scrollY, the first row with a sampled
// pixel (every 10th column below rangeWidth) that is not black gives the new height, that row
// itself left out. scrollY stays when no such row exists.
int TrimmedHeight(const PixelView& image, int rangeWidth, int scrollY);

constexpr size_t kNameHistorySize = 20;

// Adds name to the history unless it is there already (letters compared without case); a full
// history drops its oldest name. True when the name was added (and belongs in the name box).
bool RememberName(std::vector<std::string>& history, const std::string& name);

#endif

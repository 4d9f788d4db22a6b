// The record of the image's rows kept from tick to tick, and the fast search it serves: rows
// compared literally for a while, then through an index of the grab's rows by hash.
#ifndef TALLSNAP_CAPTURE_STITCH_INDEX_H
#define TALLSNAP_CAPTURE_STITCH_INDEX_H

#include <cstdint>

#include "capture/stitch.h"

namespace stitching {

struct Frame;
struct Verdict;

// Makes the record describe the image, knowing none of its rows, with rows from blackFrom down
// black.
void Describe(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight, int blackFrom);

// A record made for another image or range knows nothing of this one, not even which rows are
// black: it starts over rather than be trusted.
void Adopt(StitchRows& rows, const PixelView& image, int rangeWidth, int rangeHeight);

// Learns image row y from its pixels (copied there from `from` first when given).
void LearnRow(StitchRows& rows, const PixelView& image, int y, const uint32_t* from);

// Hashes and uniformity of the image rows from knownRows up to (not including) upTo.
void LearnRows(StitchRows& rows, const PixelView& image, int upTo);

// The classes of the image rows from `from` up to (not including) `to`, whose hashes are known.
void LearnClasses(StitchRows& rows, const PixelView& image, int from, int to);

// The search over the frame with the record's hashes, whose image rows it knows already. It
// finds what the literal search finds, or says it is Unsure.
Verdict SearchIndexed(const Frame& f, int band, StitchRows& rows, int64_t literalSamples);

}  // namespace stitching

#endif

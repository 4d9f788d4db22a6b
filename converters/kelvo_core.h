// Kelvo's reading of the messages TallSnap sends it, with no window in sight.
#ifndef TALLSNAP_CONVERTERS_KELVO_CORE_H
#define TALLSNAP_CONVERTERS_KELVO_CORE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "shared/converter_protocol.h"

enum class OutputFormat { Unknown, Jpeg, Png, Bmp };

// By the extension of the path's file name, in any letter case.
OutputFormat FormatForPath(const std::string& path);
// The folder part of a path (up to and including its last "\" or "/"), double-byte aware.
std::string FolderPart(const std::string& path);

// JPEG quality from the text of "ForTarvin.txt": its leading digits, 1 to 100; anything else 100.
int QualityFromText(const std::string& text);

// What a WM_COPYDATA is, from its dwData, the sender handle in wParam and its size.
enum class CopyItem { Filter, DefaultName, Folder, Title, Owner, Start, OutputPath, Unknown };
CopyItem ClassifyCopyData(uint64_t dwData, uint64_t wParam, size_t cbData);

// Asks Kelvo's window how many resources Kelvo holds, counted inside Kelvo (from another
// process Wine answers 0): wParam 0 its GDI objects, 1 its USER objects, 2 its kernel handles;
// any other wParam is answered 0.
constexpr unsigned kKelvoCountsMessage = 0x8000 + 0x4B4C;  // WM_APP + 0x4B4C

// The save-location request as it arrives, item by item, in a fixed order.
struct SaveRequest {
  int next = 0;  // index in the order filter, name, folder, title, owner, start
  std::string filter;  // pairs of zero-terminated texts, ending in an extra zero byte
  std::string defaultName;
  std::string folder;
  std::string title;
  uint32_t owner = 0;
};

enum class SaveStep { Stored, Refused, Start };

// Takes one item of the request. An item out of order, or one that is not what its kind
// must be, is refused and the request starts over; the start item after the other five asks
// for the dialog.
SaveStep AcceptSaveItem(SaveRequest& request, CopyItem item, const void* data, size_t len);

// The zero-terminated text at the start of a payload; false when there is none within max
// bytes (a payload without its zero byte is taken whole when it fits).
bool PayloadText(const void* data, size_t len, size_t max, std::string& text);

#endif

// The window messages TallSnap and Kelvo.exe exchange, as both sides read them.
//
// The save-location request is six WM_COPYDATA messages to Kelvo's window, wParam TallSnap's
// window, in this order: the filter block, the default name, the initial folder, the title, the
// owner (dwData and wParam both the owner's handle, the payload its 32-bit value) and the start;
// each text but the filter block goes with its zero byte and one byte more. Kelvo answers the start with one
// WM_COPYDATA of kReplyItem to the owner: the chosen path and its zero byte, or nothing when the
// user cancelled; a dialog that kept failing gets no answer at all.
//
// The conversion request is one WM_COPYDATA whose dwData and wParam are the sender's handle,
// carrying the output path in a block of kOutputPathBlock bytes, then WM_SETTEXT with the path of
// the hand-off BMP, answered FALSE when the output file could not be made.
#ifndef TALLSNAP_SHARED_CONVERTER_PROTOCOL_H
#define TALLSNAP_SHARED_CONVERTER_PROTOCOL_H

#include <cstddef>
#include <cstdint>

// The text of Kelvo's window, by which TallSnap finds it.
#define KELVO_WINDOW_TITLE "圧縮ファイルBMP変換だぞ"

// The dwData of the save-location request's items but the owner, and of Kelvo's answer.
constexpr uint32_t kTitleItem = 0;
constexpr uint32_t kFilterItem = 1;
constexpr uint32_t kDefaultNameItem = 2;
constexpr uint32_t kFolderItem = 3;
constexpr uint32_t kStartItem = 5;
constexpr uint32_t kReplyItem = 1;

// Longest path or text item Kelvo takes; a longer one is refused.
constexpr size_t kMaxPathBytes = 260;
// Size of the output-path block of a conversion request.
constexpr size_t kOutputPathBlock = 260;
// Largest filter block Kelvo takes.
constexpr size_t kMaxFilterBytes = 4096;

// Size of TallSnap's buffer for the answer, and of the part of it cleared before each answer.
constexpr size_t kReplyBufBytes = 10000;
constexpr size_t kReplyClearBytes = 1000;

// Stores an answer's payload in buf (cap bytes): clears its first kReplyClearBytes, copies at
// most cap - 1 bytes and always ends them with a zero byte. Returns the number of payload bytes
// stored.
size_t StoreReplyBytes(char* buf, size_t cap, const void* data, size_t len);

#endif

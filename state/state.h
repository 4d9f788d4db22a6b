// The process-wide state, below every part that uses it. Every field starts zeroed; the comment
// names the code that sets it.
#ifndef TALLSNAP_STATE_STATE_H
#define TALLSNAP_STATE_STATE_H

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "state/surface.h"

constexpr size_t kTextBufBytes = 264;   // paths and names
constexpr size_t kEntryBufBytes = 260;  // entries of the name tables
constexpr int kSelectedNameCount = 100;
constexpr int kNameHistoryCount = 20;

// Start-up.
extern HFONT glMainFont;
extern HFONT glHanniFont;
extern HBRUSH glFaceBrush;
extern HBRUSH glCyanBrush;
extern char glStartDir[kTextBufBytes];
extern int glVirtualW;
extern int glVirtualH;
// The virtual screen's top-left corner in screen coordinates: negative with a monitor left of or
// above the primary one.
extern int glVirtualX;
extern int glVirtualY;
extern HDC glDisplayDC;
extern int glBufMaxH;
extern int glBorder;
extern char glDesktopPath[kTextBufBytes];
extern char SentakuFileName[kSelectedNameCount][kEntryBufBytes];
extern HCURSOR glArrowCursor;
extern HCURSOR glCrossCursor;
extern Surface glBufDC;
extern Surface glSmallBufDC;
// The same size: the screen grabbed at the last tick that found no place, kept there for the next
// tick's decision while that tick grabs into glSmallBufDC. The two swap after such a tick.
extern Surface glSeenBufDC;
extern Surface glHanniMemDC;
extern Surface glHanniMemBeforeDC;

// Main window.
extern HWND glMainWnd;
// The DPI the main window's size, controls, band and glMainFont are scaled to (96 unscaled).
extern int glMainDpi;
extern char glReplyBuf[];
extern int glReplyLen;
// 1 once a reply has arrived since the last save-location request began.
extern int glReplyArrived;

// Main-window creation.
extern char glFormatText[kTextBufBytes];
extern char FileHozonFolderPath[kTextBufBytes];
extern char glNameHistory[kNameHistoryCount][kEntryBufBytes];

// Converter link.
extern HWND glConverterWnd;

// Range window.
extern HWND glHanniWnd;
extern int glHanniLeft;
extern int glHanniTop;
extern int glHanniRight;
extern int glHanniBottom;
extern int glHanniWidth;
extern int glHanniHeight;
extern int glDragging;
extern int glDragStartX;
extern int glDragStartY;
extern int glDragEndX;
extern int glDragEndY;
// The four windows of the frame shown round the range while a capture runs.
extern HWND glFrameWnd[4];

// Capture session; the flags and the image height are shared with the timer thread.
extern std::atomic<int> glScrollY;
extern std::atomic<int> glCapturing;
extern std::atomic<int> glStepBusy;
extern UINT glTimerId;
// Black rows the last append left at the image's end, which no screen showed: all the finish trims.
extern int glFillRowsAtEnd;
// Whether the capture follows the screen, told by the band and the instruction.
extern std::atomic<int> glFollowing;

// Finish command.
extern char glNameText[kTextBufBytes];
extern int glNameCount;

#endif

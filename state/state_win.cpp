#include "state/state.h"

#include "shared/converter_protocol.h"

HFONT glMainFont;
HFONT glHanniFont;
HBRUSH glFaceBrush;
HBRUSH glCyanBrush;
char glStartDir[kTextBufBytes];
int glVirtualW;
int glVirtualH;
int glVirtualX;
int glVirtualY;
HDC glDisplayDC;
int glBufMaxH;
int glBorder;
char glDesktopPath[kTextBufBytes];
char SentakuFileName[kSelectedNameCount][kEntryBufBytes];
HCURSOR glArrowCursor;
HCURSOR glCrossCursor;
Surface glBufDC;
Surface glSmallBufDC;
Surface glSeenBufDC;
Surface glHanniMemDC;
Surface glHanniMemBeforeDC;

HWND glMainWnd;
int glMainDpi;
char glReplyBuf[kReplyBufBytes];
int glReplyLen;
int glReplyArrived;

char glFormatText[kTextBufBytes];
char FileHozonFolderPath[kTextBufBytes];
char glNameHistory[kNameHistoryCount][kEntryBufBytes];

HWND glConverterWnd;

HWND glHanniWnd;
int glHanniLeft;
int glHanniTop;
int glHanniRight;
int glHanniBottom;
int glHanniWidth;
int glHanniHeight;
int glDragging;
int glDragStartX;
int glDragStartY;
int glDragEndX;
int glDragEndY;
HWND glFrameWnd[4];

std::atomic<int> glScrollY;
std::atomic<int> glCapturing;
std::atomic<int> glStepBusy;
UINT glTimerId;
int glFillRowsAtEnd;
std::atomic<int> glFollowing{1};

char glNameText[kTextBufBytes];
int glNameCount;

#ifndef TALLSNAP_OUTPUT_FINISH_H
#define TALLSNAP_OUTPUT_FINISH_H

// "終わる": writes the tall image out and returns to the start layout.
void FinishCapture();

#endif

#ifndef TALLSNAP_OUTPUT_FINISH_H
#define TALLSNAP_OUTPUT_FINISH_H

#include <string>

// What the main window shows when "終わる" is pressed.
struct FinishChoices {
  std::string formatText;  // the format box's text
  std::string name;        // the name box's text
  bool desktop = false;    // "デスクトップに保存" is checked
};

// "終わる": writes the tall image out as chosen and returns to the start layout.
void FinishCapture(const FinishChoices& choices);

#endif

#include "app/main_wnd_core.h"

std::vector<LayoutStep> LayoutSteps(Layout layout, int rangeLeft, int rangeRight) {
  switch (layout) {
    case Layout::Start:
      return {{kIdTopNote, true},       {kIdReadyButton, true},      {kIdNameLabel, true},
              {kIdNameBox, true},       {kIdFormatLabel, false},     {kIdFormatBox, false},
              {kIdRangeNote, false},    {kIdRangeButton, false},     {kIdSameRangeButton, false},
              {kIdCancelButton, false}, {kIdCaptureNote, false},     {kIdFinishButton, false},
              {kIdDesktopCheck, true}};
    case Layout::Range: {
      std::vector<LayoutStep> steps = {{kIdTopNote, false},    {kIdReadyButton, false}, {kIdNameLabel, false},
                                       {kIdNameBox, false},    {kIdFormatLabel, true},  {kIdFormatBox, true},
                                       {kIdRangeNote, true},   {kIdRangeButton, true}};
      // Widths up to 100 leave the button as it is: every way here has already hidden it.
      if (rangeRight - rangeLeft > 100) steps.push_back({kIdSameRangeButton, true});
      steps.insert(steps.end(), {{kIdCancelButton, true},
                                 {kIdCaptureNote, false},
                                 {kIdFinishButton, false},
                                 {kIdDesktopCheck, false}});
      return steps;
    }
    case Layout::Capture:
      return {{kIdTopNote, false},        {kIdReadyButton, false},    {kIdNameLabel, false},
              {kIdNameBox, false},        {kIdFormatLabel, false},    {kIdFormatBox, false},
              {kIdRangeNote, false},      {kIdRangeButton, false},    {kIdSameRangeButton, false},
              {kIdCancelButton, true},    {kIdCaptureNote, true},     {kIdFinishButton, true},
              {kIdDesktopCheck, false}};
    case Layout::Kept:
      return {{kIdTopNote, false},       {kIdReadyButton, false},  {kIdNameLabel, false},     {kIdFormatLabel, false},
              {kIdRangeNote, false},     {kIdRangeButton, false},  {kIdSameRangeButton, false}, {kIdCaptureNote, false},
              {kIdFormatBox, true},      {kIdNameBox, true},       {kIdDesktopCheck, true},   {kIdCancelButton, true},
              {kIdFinishButton, true}};
  }
  return {};
}

ControlRect PlaceInLayout(Layout layout, int id, const ControlRect& standard) {
  if (layout != Layout::Kept) return standard;
  switch (id) {
    case kIdFormatBox: return {5, 0, 200, standard.h};
    case kIdNameBox: return {210, 0, 222, standard.h};
    case kIdDesktopCheck: return {5, 25, standard.w, standard.h};
    default: return standard;
  }
}

int ScaleToDpi(int length, int dpi) {
  if (dpi <= 0 || dpi == kBaseDpi) return length;
  const long long scaled = static_cast<long long>(length) * dpi;
  const long long half = kBaseDpi / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / kBaseDpi : -((-scaled + half) / kBaseDpi));
}

ControlRect ScaleRectToDpi(const ControlRect& rect, int dpi) {
  const int left = ScaleToDpi(rect.x, dpi), top = ScaleToDpi(rect.y, dpi);
  return {left, top, ScaleToDpi(rect.x + rect.w, dpi) - left, ScaleToDpi(rect.y + rect.h, dpi) - top};
}

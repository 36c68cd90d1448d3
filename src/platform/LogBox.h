#pragma once
#include "platform/TaskView.h"

// The two log boxes are append-only: a box longer than kLogLimit characters
// is emptied before an append (when the caller applies the limit), each entry
// ends with three CR LF pairs, and the box is scrolled to its end afterwards;
// then the view's logListener hears of the entry.
inline constexpr int kLogLimit = 50000;

void appendLog(TaskView& view, Ctl box, const QString& entry, bool applyLimit = true);

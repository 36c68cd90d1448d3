#include "app/MemoryView.h"

MemoryView::MemoryView() = default;

QString MemoryView::text(Ctl c) const {
  const State& s = state(c);
  if (controlInfo(c).kind == CtlKind::List)
    return s.index >= 0 && s.index < s.entries.size() ? s.entries[s.index] : QString();
  return s.text;
}

void MemoryView::setText(Ctl c, const QString& text) { state(c).text = text; }
int MemoryView::textLength(Ctl c) const { return state(c).text.size(); }
void MemoryView::appendText(Ctl c, const QString& text) { state(c).text += text; }
void MemoryView::scrollToEnd(Ctl c) { ++state(c).scrolls; }

QStringList MemoryView::entries(Ctl list) const { return state(list).entries; }
void MemoryView::setEntries(Ctl list, const QStringList& entries) {
  state(list).entries = entries;
  state(list).index = -1;
}
int MemoryView::index(Ctl c) const { return state(c).index; }
void MemoryView::setIndex(Ctl c, int index) { state(c).index = index; }

bool MemoryView::checked(Ctl box) const { return state(box).checked; }
void MemoryView::setChecked(Ctl box, bool on) { state(box).checked = on; }

bool MemoryView::enabled(Ctl c) const { return state(c).enabled; }
void MemoryView::setEnabled(Ctl c, bool on) { state(c).enabled = on; }
bool MemoryView::readOnly(Ctl box) const { return state(box).readOnly; }
void MemoryView::setReadOnly(Ctl box, bool on) { state(box).readOnly = on; }

bool MemoryView::hintColour(Ctl box) const { return state(box).hint; }
void MemoryView::setHintColour(Ctl box, bool hint) { state(box).hint = hint; }

#include "ui/WidgetView.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// The boxes hold lines separated by "\n"; the logic exchanges them with CR LF.
QString toWidget(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return t;
}

// toPlainText() would turn no-break spaces into plain spaces and U+2028 into
// line breaks, changing what the user typed; the raw text keeps every
// character and marks only the box's own line breaks (U+2029).
QString fromDocument(const QTextDocument* doc) {
  QString t = doc->toRawText();
  t.replace(QChar(QChar::ParagraphSeparator), QStringLiteral("\r\n"));
  return t;
}

void setTextColour(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::Text, colour);
  w->setPalette(p);
}

}  // namespace

WidgetView::WidgetView() {
  flushTimer_.setSingleShot(true);
  QObject::connect(&flushTimer_, &QTimer::timeout, [this] { flush(); });
}

// The log boxes and the status labels change during runs; the other controls
// change only between them. A window not yet shown takes its texts at once,
// so it is laid out with them.
bool WidgetView::deferred(Ctl c) const {
  const QWidget* w = widget(c);
  const bool changesInRuns =
      c == Ctl::regsend || c == Ctl::regresult || controlInfo(c).kind == CtlKind::Label;
  // The window, not the box: a log box on a tab out of sight is deferred too.
  return changesInRuns && w && w->window()->isVisible();
}

// Applied at most every 40 ms: often enough to look live, and seldom enough
// that laying out a log box rarely stands between a WHOIS reply and its
// registration request.
void WidgetView::schedule() {
  if (!flushTimer_.isActive()) flushTimer_.start(40);
}

void WidgetView::flush() {
  flushTimer_.stop();
  for (const ControlInfo& c : allControls()) flush(c.id);
}

void WidgetView::flush(Ctl c) const {
  Pending& p = pending_[static_cast<int>(c)];
  if (p.hasLabel) {
    if (auto* l = qobject_cast<QLabel*>(widget(c))) l->setText(p.label);
    p.hasLabel = false;
    p.label.clear();
  }
  QPlainTextEdit* a = area(c);
  if (!a) return;
  if (!p.append.isEmpty()) {
    QTextCursor end(a->document());
    end.movePosition(QTextCursor::End);
    end.insertText(toWidget(p.append));
    p.append.clear();
  }
  if (p.scroll) {
    QScrollBar* bar = a->verticalScrollBar();
    bar->setValue(bar->maximum());
    p.scroll = false;
  }
}

void WidgetView::bind(Ctl c, QWidget* widget) { widgets_[static_cast<int>(c)] = widget; }

void WidgetView::bindOptions(Ctl group, QButtonGroup* buttons) {
  groups_[static_cast<int>(group)] = buttons;
}

// Grey of an inactive caption, clearly apart from the black of typed text.
QColor WidgetView::hintTextColour() { return QColor(0x80, 0x80, 0x80); }
QColor WidgetView::normalTextColour() { return QColor(Qt::black); }

QPlainTextEdit* WidgetView::area(Ctl c) const { return qobject_cast<QPlainTextEdit*>(widget(c)); }

QString WidgetView::text(Ctl c) const {
  const Pending& p = pending_[static_cast<int>(c)];
  if (p.hasLabel) return p.label;
  if (!p.append.isEmpty()) flush(c);
  QWidget* w = widget(c);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* a = qobject_cast<QPlainTextEdit*>(w)) return fromDocument(a->document());
  if (auto* l = qobject_cast<QComboBox*>(w)) return l->currentText();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (QButtonGroup* g = options(c)) {
    QAbstractButton* b = g->checkedButton();
    return b ? b->text() : QString();
  }
  return QString();
}

void WidgetView::setText(Ctl c, const QString& text) {
  QWidget* w = widget(c);
  Pending& p = pending_[static_cast<int>(c)];
  p.append.clear();
  p.hasLabel = false;
  if (qobject_cast<QLabel*>(w) && deferred(c)) {
    p.hasLabel = true;
    p.label = text;
    schedule();
    return;
  }
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(text);
    e->setCursorPosition(0);  // show the start of a long URL, not its end
  } else if (auto* a = qobject_cast<QPlainTextEdit*>(w)) {
    a->setPlainText(toWidget(text));
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(text);
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(text);
  }
  // A list shows only its entries and a group only its options: a text is
  // chosen through setIndex, as in the in-memory view.
}

int WidgetView::textLength(Ctl c) const {
  if (QPlainTextEdit* a = area(c)) {
    // Without building the text: every character, and CR LF for each break.
    const QTextDocument* doc = a->document();
    return doc->characterCount() - 1 + doc->blockCount() - 1 +
           static_cast<int>(pending_[static_cast<int>(c)].append.size());
  }
  return text(c).size();
}

void WidgetView::appendText(Ctl c, const QString& text) {
  if (area(c) && deferred(c)) {
    pending_[static_cast<int>(c)].append += text;
    schedule();
  } else if (QPlainTextEdit* a = area(c)) {
    flush(c);  // anything still pending comes first
    QTextCursor end(a->document());
    end.movePosition(QTextCursor::End);
    end.insertText(toWidget(text));
  } else {
    setText(c, this->text(c) + text);
  }
}

void WidgetView::scrollToEnd(Ctl c) {
  if (area(c) && deferred(c)) {
    pending_[static_cast<int>(c)].scroll = true;
    schedule();
  } else if (QPlainTextEdit* a = area(c)) {
    QScrollBar* bar = a->verticalScrollBar();
    bar->setValue(bar->maximum());
  }
}

QStringList WidgetView::entries(Ctl c) const {
  QStringList e;
  if (auto* l = qobject_cast<QComboBox*>(widget(c))) {
    for (int i = 0; i < l->count(); ++i) e << l->itemText(i);
  } else if (QButtonGroup* g = options(c)) {
    for (int i = 0; g->button(i); ++i) e << g->button(i)->text();
  }
  return e;
}

void WidgetView::setEntries(Ctl c, const QStringList& entries) {
  if (auto* l = qobject_cast<QComboBox*>(widget(c))) {
    l->clear();
    l->addItems(entries);
    l->setCurrentIndex(-1);  // nothing selected until the caller chooses
  } else if (QButtonGroup* g = options(c)) {
    for (int i = 0; i < entries.size() && g->button(i); ++i) g->button(i)->setText(entries[i]);
  }
}

int WidgetView::index(Ctl c) const {
  if (auto* l = qobject_cast<QComboBox*>(widget(c))) return l->currentIndex();
  if (QButtonGroup* g = options(c)) return g->checkedId();
  return -1;
}

void WidgetView::setIndex(Ctl c, int index) {
  if (auto* l = qobject_cast<QComboBox*>(widget(c))) {
    l->setCurrentIndex(index >= 0 && index < l->count() ? index : -1);
  } else if (QButtonGroup* g = options(c)) {
    if (QAbstractButton* b = g->button(index)) {
      b->setChecked(true);
    } else if (QAbstractButton* on = g->checkedButton()) {
      // An exclusive group refuses to clear its last checked button.
      g->setExclusive(false);
      on->setChecked(false);
      g->setExclusive(true);
    }
  }
}

bool WidgetView::checked(Ctl box) const {
  auto* b = qobject_cast<QCheckBox*>(widget(box));
  return b && b->isChecked();
}

void WidgetView::setChecked(Ctl box, bool on) {
  if (auto* b = qobject_cast<QCheckBox*>(widget(box))) b->setChecked(on);
}

bool WidgetView::enabled(Ctl c) const {
  if (QWidget* w = widget(c)) return w->isEnabled();
  if (QButtonGroup* g = options(c)) {
    const QList<QAbstractButton*> buttons = g->buttons();
    return !buttons.isEmpty() && buttons.first()->isEnabled();
  }
  return false;
}

void WidgetView::setEnabled(Ctl c, bool on) {
  if (QWidget* w = widget(c)) {
    w->setEnabled(on);
  } else if (QButtonGroup* g = options(c)) {
    for (QAbstractButton* b : g->buttons()) b->setEnabled(on);
  }
}

bool WidgetView::readOnly(Ctl box) const {
  QWidget* w = widget(box);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->isReadOnly();
  if (auto* a = qobject_cast<QPlainTextEdit*>(w)) return a->isReadOnly();
  return false;
}

void WidgetView::setReadOnly(Ctl box, bool on) {
  QWidget* w = widget(box);
  if (auto* e = qobject_cast<QLineEdit*>(w)) e->setReadOnly(on);
  if (auto* a = qobject_cast<QPlainTextEdit*>(w)) a->setReadOnly(on);
}

bool WidgetView::hintColour(Ctl box) const {
  QWidget* w = widget(box);
  return w && w->palette().color(QPalette::Text) == hintTextColour();
}

void WidgetView::setHintColour(Ctl box, bool hint) {
  if (QWidget* w = widget(box)) setTextColour(w, hint ? hintTextColour() : normalTextColour());
}

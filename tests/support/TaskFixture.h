#pragma once
#include <QTemporaryDir>

#include "app/MemoryView.h"
#include "app/TaskWindow.h"
#include "support/ScriptedPrompter.h"

// A dynamic box holding one "domain===" line per domain.
inline QString domainLines(const QStringList& domains) {
  QStringList lines;
  lines.reserve(domains.size());
  for (const QString& d : domains) lines << QStringLiteral("domain===") + d;
  return lines.join(QStringLiteral("\r\n"));
}

// A task window on plain values with scripted message boxes, its lists and
// defaults as after start-up, and its settings file in a temporary folder.
struct TaskFixture {
  QTemporaryDir dir;
  MemoryView view;
  ScriptedPrompter prompter;
  Settings settings;
  SettingsDialogState dialogState;
  TaskWindow w{view, prompter, settings, dialogState, dir.filePath(QStringLiteral("zembrin.ini"))};

  // No time server: a test that arms a timed start asks none on the internet.
  TaskFixture() {
    settings.time_server.clear();
    w.Form_Load();
  }

  // A valid one-domain task in form mode against url.
  void setSimpleTask(const QString& url,
                     const QString& domains = QStringLiteral("domain===a.com")) {
    w.removeHint(Ctl::txt_api_url);
    view.setText(Ctl::txt_api_url, url);
    view.setText(Ctl::common1, QStringLiteral("user===bob"));
    view.setText(Ctl::dyn1, domains);
    view.setText(Ctl::domain_var, QStringLiteral("domain"));
  }
};

#pragma once
#include <QString>
#include <QStringList>

#include "codecs/PostForm.h"
#include "platform/Prompter.h"
#include "platform/RunFlag.h"
#include "platform/TaskView.h"
#include "settings/Settings.h"
#include "task/TaskTables.h"

// The task as validation and the variable tables leave it, and as the
// request builder reads it. Rebuilt at every start.
struct ParsedTask {
  PostForm reg;  // the fixed-content body
  QString api_url;
  QString request_url;
  bool url_template_mode = false;
  QList<UrlVar> url_vars;
  QList<Md5Row> md5_table;
  QString domain_source;  // "dyn1", "dyn2" or "common"
  QStringList domain_list;
  // The line of its dynamic box each entry of domain_list came from, so a
  // WHOIS-triggered send finds its line without scanning the box.
  QList<int> domain_lines;
  // The dynamic boxes' lines, split once per start.
  QStringList dyn1_lines, dyn2_lines;
  // Mirrors of the two UTF-8 check boxes: -1 true, 0 false.
  qint16 utf8_send = 0;
  qint16 utf8_reply = 0;
};

// What the task subsystem sees of the task window: its controls, its
// questions and messages, the program's settings, the run flag and the
// parsed task.
class TaskContext : public RunFlag, public ParsedTask {
 public:
  TaskContext(TaskView& taskView, Prompter& taskPrompter, Settings& programSettings)
      : view(taskView), prompter(taskPrompter), settings(programSettings) {}
  TaskView& view;
  Prompter& prompter;
  Settings& settings;
};

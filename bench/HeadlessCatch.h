#pragma once
// Runs a catch the way a user runs it on a server: the task written as a task
// file, the settings as an INI file, and `zembrin catch TASK --settings INI`.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "app/TaskWindow.h"
#include "task/TaskFile.h"

// False (with the reason on stderr) when the files could not be written or
// the runner did not end with status 0 within timeoutMs. extraArgs follow
// the settings (--at ...); program replaces the runner built with this tree.
inline bool runHeadlessCatch(const TaskWindow& task, const QByteArray& ini,
                             const QTemporaryDir& dir, int timeoutMs,
                             const QStringList& extraArgs = {},
                             const QString& program = QStringLiteral(ZEMBRIN_BIN)) {
  const QString taskPath = dir.filePath(QStringLiteral("catch.txt"));
  const QString iniPath = dir.filePath(QStringLiteral("zembrin.ini"));
  QString error;
  if (!writeTaskFile(task, taskPath, &error)) {
    std::fprintf(stderr, "task file: %s\n", qPrintable(error));
    return false;
  }
  QFile file(iniPath);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(ini) != ini.size()) {
    std::fprintf(stderr, "settings file: %s\n", qPrintable(file.errorString()));
    return false;
  }
  file.close();
  QProcess runner;
  runner.setProgram(program);
  runner.setArguments(
      QStringList{QStringLiteral("catch"), taskPath, QStringLiteral("--settings"), iniPath} +
      extraArgs);
  runner.setStandardOutputFile(dir.filePath(QStringLiteral("stdout.txt")));
  runner.setStandardErrorFile(dir.filePath(QStringLiteral("stderr.txt")));
  runner.start();
  if (!runner.waitForFinished(timeoutMs) || runner.exitCode() != 0) {
    std::fprintf(stderr, "runner failed (exit %d)\n", runner.exitCode());
    return false;
  }
  return true;
}

#pragma once
#include <QDate>
#include <QFile>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// The run's record on disk. Lines are stamped when they are appended and
// written from the event loop at most half a second later, so appending
// costs a copy and never a write. Created readable by its owner only: task
// bodies hold passwords and API keys.
class LogFile : public QObject {
  Q_OBJECT
 public:
  LogFile();
  ~LogFile() override;  // writes what is left

  // An absolute path; "YYYYMMDD" in it stands for the date of each line.
  void setPathPattern(const QString& pattern);
  QString pathFor(QDate day) const;

  // One line per line of text (report::entryLines), each "stamp prefix line".
  void append(const QString& prefix, const QString& text);
  // Creates the folder and opens today's file now, so a problem is known
  // when a run starts rather than at its first line.
  void open();
  void flush();
  // The buffered lines are dropped and the file closed (save_log went off).
  void close();

 signals:
  // A folder that cannot be created or a file that cannot be opened or
  // written: said once, until a write succeeds again. The lines of that
  // flush are dropped, and the next flush tries again.
  void failed(const QString& message);

 private:
  struct Pending {
    qint64 ms;
    QString prefix;
    QString text;
  };
  bool openFor(QDate day);
  void fail(const QString& message);

  QString pattern_;
  QList<Pending> pending_;
  QTimer flushTimer_;
  QFile file_;
  QString filePath_;  // of the open file
  QDate fileDay_;
  bool failing_ = false;
};

#include "report/LogFile.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "report/ReportText.h"

namespace {
constexpr int kFlushDelayMs = 500;
const QString kDayToken = QStringLiteral("YYYYMMDD");
}  // namespace

LogFile::LogFile() {
  flushTimer_.setSingleShot(true);
  connect(&flushTimer_, &QTimer::timeout, this, &LogFile::flush);
}

LogFile::~LogFile() { flush(); }

void LogFile::setPathPattern(const QString& pattern) {
  if (pattern == pattern_) return;
  flush();
  file_.close();
  pattern_ = pattern;
}

QString LogFile::pathFor(QDate day) const {
  QString path = pattern_;
  return path.replace(kDayToken, day.toString(QStringLiteral("yyyyMMdd")));
}

void LogFile::append(const QString& prefix, const QString& text) {
  pending_.append({QDateTime::currentMSecsSinceEpoch(), prefix, text});
  if (!flushTimer_.isActive()) flushTimer_.start(kFlushDelayMs);
}

void LogFile::open() { openFor(QDate::currentDate()); }

void LogFile::close() {
  flushTimer_.stop();
  pending_.clear();
  file_.close();
}

bool LogFile::openFor(QDate day) {
  if (file_.isOpen() && fileDay_ == day) return true;
  file_.close();
  const QString path = pathFor(day);
  const QString folder = QFileInfo(path).absolutePath();
  // A folder of our own is made private too; existing ones are left alone.
  if (!QFileInfo::exists(folder)) {
    QDir().mkpath(QFileInfo(folder).absolutePath());
    QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  if (!QFileInfo(folder).isDir()) {
    fail(QStringLiteral("日志保存失败！无法创建日志文件夹 %1")
             .arg(QDir::toNativeSeparators(folder)));
    return false;
  }
  // O_APPEND: every write lands at the end, also with another writer, and a
  // device such as /dev/full needs no seek.
  const int fd =
      ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    fail(QStringLiteral("日志保存失败！无法打开日志文件 %1：%2")
             .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno))));
    return false;
  }
  file_.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
  filePath_ = path;
  fileDay_ = day;
  return true;
}

void LogFile::flush() {
  flushTimer_.stop();
  if (pending_.isEmpty()) return;
  const QList<Pending> lines = std::move(pending_);
  pending_.clear();
  // Lines go to the file of their own day, so a flush after midnight puts
  // the last lines of the day where they belong.
  qsizetype from = 0;
  while (from < lines.size()) {
    const QDate day = QDateTime::fromMSecsSinceEpoch(lines[from].ms).date();
    QByteArray bytes;
    qsizetype i = from;
    for (; i < lines.size(); ++i) {
      if (QDateTime::fromMSecsSinceEpoch(lines[i].ms).date() != day) break;
      const QString head = report::stamp(lines[i].ms) + u' ' + lines[i].prefix;
      for (const QString& line : report::entryLines(lines[i].text))
        bytes += (head + line).toUtf8() + '\n';
    }
    from = i;
    if (!openFor(day)) continue;
    if (file_.write(bytes) != bytes.size()) {
      fail(QStringLiteral("日志保存失败！无法写入日志文件 %1：%2")
               .arg(QDir::toNativeSeparators(filePath_), file_.errorString()));
      file_.close();
      continue;
    }
    failing_ = false;
  }
}

void LogFile::fail(const QString& message) {
  if (!failing_) emit failed(message);
  failing_ = true;
}

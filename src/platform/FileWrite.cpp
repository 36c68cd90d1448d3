#include "platform/FileWrite.h"

#include <QFileInfo>
#include <QSaveFile>

namespace platform {

bool replaceFile(const QString& path, const QByteArray& bytes, QString* error) {
  const bool isNew = !QFileInfo::exists(path);
  QSaveFile file(path);
  // Unbuffered: Qt commits a buffered file whose final flush was cut short
  // (disk full, file size limit) as if it were whole.
  bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
  // QSaveFile gives a new file the umask's mode (0644 on most systems); set
  // before anything is written into it.
  if (ok && isNew) ok = file.setPermissions(kPrivateFilePermissions);
  ok = ok && file.write(bytes) == bytes.size() && file.commit();
  if (!ok) {
    if (error) *error = file.errorString();
    file.cancelWriting();
  }
  return ok;
}

}  // namespace platform

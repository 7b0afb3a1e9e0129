#include "platform/server/cipher_library.h"

#include <QDir>
#include <QFileInfo>

namespace quorvane {

QString LibraryToLoad(const QString& option, const QString& executableDir) {
  if (!option.isEmpty()) return option;
  const QString beside = QDir(executableDir).filePath(kLibraryFileName);
  if (QFileInfo::exists(beside)) return beside;
  return kLibraryFileName;
}

}  // namespace quorvane

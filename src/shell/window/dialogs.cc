#include "shell/window/dialogs.h"

#include <grp.h>
#include <unistd.h>

#include <QFileDialog>
#include <QStringList>
#include <vector>

namespace orlendo {

QString QtFileFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    // The description usually repeats its patterns in parentheses; Qt reads the patterns from
    // the last parenthesised group, so that group must be the real one.
    const qsizetype open = description.lastIndexOf(QLatin1Char('('));
    if (open > 0 && description.endsWith(QLatin1Char(')')))
      description = description.left(open).trimmed();
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns)
      if (p == QLatin1String("*.*"))
        p = QStringLiteral("*");
    result << description + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) +
                  QLatin1Char(')');
  }
  return result.join(QLatin1String(";;"));
}

bool ShowFileDialog(QWidget* owner, const QString& defaultExt, const QString& filter, bool open,
                    QString& fileName, const QString& title, const QString& initialFolder) {
  QFileDialog dialog(owner, title);
  dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setNameFilter(QtFileFilter(filter));
  if (!defaultExt.isEmpty())
    dialog.setDefaultSuffix(defaultExt);
  if (!initialFolder.isEmpty())
    dialog.setDirectory(initialFolder);
  if (!fileName.isEmpty())
    dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return false;
  fileName = dialog.selectedFiles().first();
  return true;
}

bool SelectFolder(QWidget* owner, const QString& title, QString& folder) {
  const QString chosen = QFileDialog::getExistingDirectory(owner, title, folder);
  if (chosen.isEmpty())
    return false;
  folder = chosen;
  return true;
}

bool IsUserAdmin() {
  if (::geteuid() == 0)
    return true;
  const int count = ::getgroups(0, nullptr);
  if (count < 0)
    return false;
  std::vector<gid_t> groups(static_cast<size_t>(count) + 1);
  const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
  if (n < 0)
    return false;
  groups.resize(static_cast<size_t>(n));
  groups.push_back(::getegid());
  for (const char* name : {"sudo", "wheel", "admin"}) {
    const group* g = ::getgrnam(name);
    if (!g)
      continue;
    for (gid_t id : groups)
      if (id == g->gr_gid)
        return true;
  }
  return false;
}

} // namespace orlendo

#include "shell/window/language_menu.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMenu>
#include <QPixmap>

namespace orlendo {

QString LanguageCaption(const QString& fileName) {
  QString caption = QFileInfo(fileName).completeBaseName().toLower();
  if (!caption.isEmpty())
    caption[0] = caption[0].toUpper();
  return caption;
}

int BuildLanguageMenu(QMenu* menu, QAction* separator, const QString& folder, int iconSize,
                      const std::function<void(QAction* item)>& choose) {
  menu->clear();
  auto* byDefault = menu->addAction(QStringLiteral("use default language"));
  byDefault->setObjectName(QStringLiteral("miLanguageDefault"));
  byDefault->setProperty("tag", kDefaultLanguageItemTag);
  QObject::connect(byDefault, &QAction::triggered, menu,
                   [choose, byDefault] { choose(byDefault); });

  const QDir dir(folder);
  const QFileInfoList files =
      dir.entryInfoList({QStringLiteral("*.lng")}, QDir::Files | QDir::Readable, QDir::Name);
  // Bitmaps by lower-cased base name: file names are case-sensitive here, ".BMP" or ".bmp".
  QHash<QString, QString> bitmaps;
  for (const QFileInfo& b : dir.entryInfoList({QStringLiteral("*.bmp"), QStringLiteral("*.BMP")},
                                              QDir::Files, QDir::Name))
    bitmaps.insert(b.completeBaseName().toLower(), b.filePath());

  for (const QFileInfo& file : files) {
    const QString caption = LanguageCaption(file.fileName());
    auto* item = new QAction(caption, menu);
    item->setObjectName(QStringLiteral("miLanguage") + caption);
    item->setData(file.filePath());
    item->setCheckable(false);
    const QString bitmap = bitmaps.value(file.completeBaseName().toLower());
    if (!bitmap.isEmpty()) {
      const QPixmap picture(bitmap);
      if (!picture.isNull())
        item->setIcon(QIcon(
            picture.scaled(iconSize, iconSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    }
    QObject::connect(item, &QAction::triggered, menu, [choose, item] { choose(item); });
    const QList<QAction*> items = menu->actions();
    QAction* before = nullptr;
    for (qsizetype i = 1; i < items.size() && !before; ++i)
      if (items[i]->text().compare(caption, Qt::CaseInsensitive) > 0)
        before = items[i];
    menu->insertAction(before, item);
  }
  const bool visible = !files.isEmpty();
  menu->menuAction()->setVisible(visible);
  if (separator)
    separator->setVisible(visible);
  return static_cast<int>(files.size());
}

} // namespace orlendo

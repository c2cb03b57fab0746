// The View > "Switch language" submenu: "use default language" first, then one item per
// language file of the languages folder, sorted by caption.
#pragma once

#include <QString>
#include <functional>

class QAction;
class QMenu;

namespace orlendo {

// The tag of the "use default language" item.
inline constexpr int kDefaultLanguageItemTag = 1000;

// The caption a language file is listed under: its base name lower-cased with the first letter
// upper-cased (german.lng: "German").
QString LanguageCaption(const QString& fileName);

// Empties menu and fills it from the "*.lng" files of folder: the default item (tag 1000), then
// every file under its caption, inserted before the first item after the default one whose
// caption compares greater without regard to letter case. An item carries its file's path as
// data and, when the folder holds a bitmap of the same base name (".bmp" in any letter case),
// that bitmap as icon, scaled to iconSize. Every item, the default one too, runs choose when
// clicked. The menu (and the separator after it, when given) is visible only when it lists a
// language file. Returns the number of language files listed.
int BuildLanguageMenu(QMenu* menu, QAction* separator, const QString& folder, int iconSize,
                      const std::function<void(QAction* item)>& choose);

} // namespace orlendo

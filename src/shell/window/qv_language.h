// Translation of the user interface at run time from language files: INI files whose
// "Translations" section sets properties of named widgets (frmMain.miFile.Caption=&Datei) and
// whose "Custom" section replaces the program's message strings.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace orlendo {

struct TSettings;

class TQvLanguage : public QObject {
  Q_OBJECT
public:
  explicit TQvLanguage(QObject* parent = nullptr);

  // Translate at once whenever ResourceFile changes.
  bool AutoTranslate = false;
  const QString& ResourceFile() const { return resourceFile_; }
  void SetResourceFile(const QString& fileName);
  // The separator of list items in a value; setting a blank one selects CR LF.
  const QString& StringsSeparator() const { return stringsSeparator_; }
  void SetStringsSeparator(const QString& separator);

  std::function<void(TQvLanguage* sender)> OnBeforeTranslation;
  std::function<void(TQvLanguage* sender)> OnAfterTranslation;
  // Called before each value is set; may change value. oldValue is the property's current text
  // for text properties and empty for others.
  std::function<void(TQvLanguage* sender, QObject* component, QString& value,
                     const QString& oldValue, const QString& propertyName)>
      OnTranslate;

  // Applies the "Translations" section of fileName (of ResourceFile when empty). A line names
  // a path of object names, matched without regard to letter case: the first among the
  // application's top-level windows (every window of that name) and, for a form docked into a
  // window, the first descendant of that name in each window; the rest among the descendants
  // of the one before; the last element is the property. "~" in a value stands
  // for a tab. A line with a missing object or property, or an empty value, is ignored; of two
  // lines with one name, both apply the first one's value. An integer property given a value
  // that is no decimal number is left as it is; the other lines still apply, and then EMSGError
  // names the first such value. A missing file
  // changes nothing.
  //
  // Property names: Caption (window title, menu title, action, button, label and group texts,
  // a tab page's tab), Hint (tool tip, and the part after a "|" as status tip), Text, Items
  // (combo and list boxes, the radio buttons of a group), Lines (multi-line texts), Left, Top,
  // Width, Height, Tag, and any Qt property of string, integer or string-list type by name.
  void Translate(const QString& fileName = {});

  // The value of key in the "Custom" section of ResourceFile, or def when it has none.
  QString ReadCustomString(const QString& key, const QString& def) const;

private:
  QString resourceFile_;
  QString stringsSeparator_;
};

// The "languages" folder of the data folder (with a trailing "/") when it exists, else the data
// folder.
QString GetLanguagesFolder();

// The main window's TranslateForm without the window. sender is null (start-up), a language
// menu action (its "tag" property 1000 for "use default language"; its data, when set, the
// language file's path) or a dialog about to be shown. Updates settings.LangFile (and
// SettingsChanged for a menu choice), applies the file to every window, and, unless sender is
// a dialog, sets mainWindow's title to "Orlendo (*.msg)" and reloads every message string.
// showMessage shows the "use default language" notice.
void TranslateForm(TQvLanguage& language, TSettings& settings, QObject* sender, QWidget* mainWindow,
                   const std::function<void(const QString&)>& showMessage);

} // namespace orlendo

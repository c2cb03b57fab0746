#include "shell/window/qv_language.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <optional>

#include "app/ini_file.h"
#include "app/message_strings.h"
#include "app/settings.h"
#include "components/interface_locale.h"
#include "model/stream.h"
#include "shell/command_line.h"

namespace orlendo {
namespace {

constexpr int kDefaultLanguageTag = 1000;

enum class Kind { Text, Integer, List };

// How one property name is read and written on one kind of object.
struct Binding {
  Kind kind;
  std::function<QString()> get;
  std::function<void(const QString&)> setText;
  std::function<void(int)> setInteger;
  std::function<void(const QStringList&)> setList;
};

Binding TextBinding(std::function<QString()> get, std::function<void(const QString&)> set) {
  return Binding{Kind::Text, std::move(get), std::move(set), {}, {}};
}
Binding IntegerBinding(std::function<void(int)> set) {
  return Binding{Kind::Integer, [] { return QString(); }, {}, std::move(set), {}};
}
Binding ListBinding(std::function<void(const QStringList&)> set) {
  return Binding{Kind::List, [] { return QString(); }, {}, {}, std::move(set)};
}

QTabWidget* TabWidgetOfPage(QWidget* w) {
  if (!w->parentWidget() || !qobject_cast<QStackedWidget*>(w->parentWidget()))
    return nullptr;
  return qobject_cast<QTabWidget*>(w->parentWidget()->parentWidget());
}

// The radio buttons of a group box, in creation order.
QList<QRadioButton*> Radios(QGroupBox* g) {
  return g->findChildren<QRadioButton*>(QString(), Qt::FindDirectChildrenOnly);
}

std::optional<Binding> BindCaption(QObject* o) {
  if (auto* a = qobject_cast<QAction*>(o))
    return TextBinding([a] { return a->text(); }, [a](const QString& v) { a->setText(v); });
  if (auto* m = qobject_cast<QMenu*>(o))
    return TextBinding([m] { return m->title(); }, [m](const QString& v) { m->setTitle(v); });
  if (auto* g = qobject_cast<QGroupBox*>(o))
    return TextBinding([g] { return g->title(); }, [g](const QString& v) { g->setTitle(v); });
  if (auto* b = qobject_cast<QAbstractButton*>(o))
    return TextBinding([b] { return b->text(); }, [b](const QString& v) { b->setText(v); });
  if (auto* l = qobject_cast<QLabel*>(o))
    return TextBinding([l] { return l->text(); }, [l](const QString& v) { l->setText(v); });
  if (auto* w = qobject_cast<QWidget*>(o)) {
    if (QTabWidget* tabs = TabWidgetOfPage(w))
      return TextBinding([tabs, w] { return tabs->tabText(tabs->indexOf(w)); },
                         [tabs, w](const QString& v) { tabs->setTabText(tabs->indexOf(w), v); });
    return TextBinding([w] { return w->windowTitle(); },
                       [w](const QString& v) { w->setWindowTitle(v); });
  }
  return std::nullopt;
}

std::optional<Binding> BindText(QObject* o) {
  if (auto* e = qobject_cast<QLineEdit*>(o))
    return TextBinding([e] { return e->text(); }, [e](const QString& v) { e->setText(v); });
  if (auto* c = qobject_cast<QComboBox*>(o))
    return TextBinding([c] { return c->currentText(); },
                       [c](const QString& v) { c->setCurrentText(v); });
  if (auto* t = qobject_cast<QTextEdit*>(o))
    return TextBinding([t] { return t->toPlainText(); },
                       [t](const QString& v) { t->setPlainText(v); });
  if (auto* t = qobject_cast<QPlainTextEdit*>(o))
    return TextBinding([t] { return t->toPlainText(); },
                       [t](const QString& v) { t->setPlainText(v); });
  if (qobject_cast<QAction*>(o) || qobject_cast<QAbstractButton*>(o) || qobject_cast<QLabel*>(o))
    return BindCaption(o);
  return std::nullopt;
}

std::optional<Binding> BindItems(QObject* o) {
  Binding b = ListBinding({});
  if (auto* c = qobject_cast<QComboBox*>(o)) {
    b.setList = [c](const QStringList& items) {
      const int index = c->currentIndex();
      c->clear();
      c->addItems(items);
      c->setCurrentIndex(index < c->count() ? index : -1);
    };
    return b;
  }
  if (auto* l = qobject_cast<QListWidget*>(o)) {
    b.setList = [l](const QStringList& items) {
      const int row = l->currentRow();
      l->clear();
      l->addItems(items);
      if (row < l->count())
        l->setCurrentRow(row);
    };
    return b;
  }
  if (auto* t = qobject_cast<QTableWidget*>(o)) {
    // A grid of labelled rows: the labels of its first column (or of the column its property
    // "itemsColumn" names, where the first holds names that stay), from the first row that has
    // one. A cell whose tool tip repeats its text gets the new text there too.
    b.setList = [t](const QStringList& items) {
      const int column =
          t->property("itemsColumn").isValid() ? t->property("itemsColumn").toInt() : 0;
      int row = 0;
      while (row < t->rowCount() &&
             (!t->item(row, column) || t->item(row, column)->text().isEmpty()))
        ++row;
      for (int i = 0; i < items.size() && row + i < t->rowCount(); ++i)
        if (QTableWidgetItem* cell = t->item(row + i, column)) {
          if (cell->toolTip() == cell->text())
            cell->setToolTip(items[i]);
          cell->setText(items[i]);
        }
    };
    return b;
  }
  if (auto* t = qobject_cast<QTreeWidget*>(o)) {
    // A fixed list such as a legend: the texts of its top-level items.
    b.setList = [t](const QStringList& items) {
      for (int i = 0; i < items.size() && i < t->topLevelItemCount(); ++i)
        t->topLevelItem(i)->setText(0, items[i]);
    };
    return b;
  }
  if (auto* g = qobject_cast<QGroupBox*>(o)) {
    // A radio group: the items are the captions of its buttons.
    b.setList = [g](const QStringList& items) {
      const auto radios = Radios(g);
      for (int i = 0; i < radios.size() && i < items.size(); ++i)
        radios[i]->setText(items[i]);
    };
    return b;
  }
  return std::nullopt;
}

// The captions of a list's columns, in order.
std::optional<Binding> BindColumns(QObject* o) {
  if (auto* t = qobject_cast<QTableWidget*>(o))
    return ListBinding([t](const QStringList& captions) {
      for (int i = 0; i < captions.size() && i < t->columnCount(); ++i) {
        if (QTableWidgetItem* header = t->horizontalHeaderItem(i))
          header->setText(captions[i]);
        else
          t->setHorizontalHeaderItem(i, new QTableWidgetItem(captions[i]));
      }
    });
  if (auto* t = qobject_cast<QTreeWidget*>(o))
    return ListBinding([t](const QStringList& captions) {
      for (int i = 0; i < captions.size() && i < t->columnCount(); ++i)
        t->headerItem()->setText(i, captions[i]);
    });
  return std::nullopt;
}

std::optional<Binding> BindLines(QObject* o) {
  if (qobject_cast<QTextEdit*>(o) || qobject_cast<QPlainTextEdit*>(o) || qobject_cast<QLabel*>(o)) {
    auto set = BindText(o)->setText;
    return ListBinding([set](const QStringList& lines) { set(lines.join('\n')); });
  }
  return std::nullopt;
}

std::optional<Binding> BindGeometry(QObject* o, const QString& name) {
  auto* w = qobject_cast<QWidget*>(o);
  if (!w)
    return std::nullopt;
  Binding b = IntegerBinding({});
  if (name == "left")
    b.setInteger = [w](int v) { w->move(v, w->y()); };
  else if (name == "top")
    b.setInteger = [w](int v) { w->move(w->x(), v); };
  else if (name == "width")
    b.setInteger = [w](int v) { w->resize(v, w->height()); };
  else if (name == "height")
    b.setInteger = [w](int v) { w->resize(w->width(), v); };
  else
    return std::nullopt;
  return b;
}

// A Qt property of a kind a language file can give, found by name without regard to case.
std::optional<Binding> BindQtProperty(QObject* o, const QString& name) {
  const QMetaObject* mo = o->metaObject();
  for (int i = 0; i < mo->propertyCount(); ++i) {
    const QMetaProperty p = mo->property(i);
    if (QString::fromLatin1(p.name()).compare(name, Qt::CaseInsensitive) != 0 || !p.isWritable())
      continue;
    const QByteArray n = p.name();
    switch (p.metaType().id()) {
    case QMetaType::QString:
      return TextBinding([o, n] { return o->property(n).toString(); },
                         [o, n](const QString& v) { o->setProperty(n, v); });
    case QMetaType::Int:
      return IntegerBinding([o, n](int v) { o->setProperty(n, v); });
    case QMetaType::QStringList:
      return ListBinding([o, n](const QStringList& v) { o->setProperty(n, v); });
    default:
      return std::nullopt; // other kinds are not translated
    }
  }
  return std::nullopt;
}

std::optional<Binding> Bind(QObject* o, const QString& property) {
  const QString name = property.toLower();
  std::optional<Binding> b;
  if (name == "caption")
    b = BindCaption(o);
  else if (name == "text")
    b = BindText(o);
  else if (name == "items")
    b = BindItems(o);
  else if (name == "lines")
    b = BindLines(o);
  else if (name == "columns")
    b = BindColumns(o);
  else if (name == "hint") {
    if (qobject_cast<QWidget*>(o) || qobject_cast<QAction*>(o))
      b = TextBinding([o] { return o->property("toolTip").toString(); },
                      [o](const QString& v) {
                        // "short|long": the tool tip, and the long form for the status bar.
                        const qsizetype bar = v.indexOf('|');
                        o->setProperty("toolTip", bar < 0 ? v : v.left(bar));
                        o->setProperty("statusTip", bar < 0 ? v : v.mid(bar + 1));
                      });
  } else if (name == "tag")
    b = IntegerBinding([o](int v) { o->setProperty("tag", v); });
  else
    b = BindGeometry(o, name);
  return b ? b : BindQtProperty(o, property);
}

// The first descendant of parent named name (letter case ignored), nearest levels first.
QObject* FindDescendant(QObject* parent, const QString& name) {
  QList<QObject*> level = parent->children();
  while (!level.isEmpty()) {
    QList<QObject*> next;
    for (QObject* c : level) {
      if (c->objectName().compare(name, Qt::CaseInsensitive) == 0)
        return c;
      next += c->children();
    }
    level = next;
  }
  return nullptr;
}

QString Trimmed(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).trimmed();
}

} // namespace

TQvLanguage::TQvLanguage(QObject* parent) : QObject(parent) {
  setObjectName("QvLanguage");
}

void TQvLanguage::SetResourceFile(const QString& fileName) {
  if (fileName == resourceFile_)
    return;
  resourceFile_ = fileName;
  if (AutoTranslate)
    Translate();
}

void TQvLanguage::SetStringsSeparator(const QString& separator) {
  stringsSeparator_ = separator.trimmed().isEmpty() ? QString("\r\n") : separator;
}

void TQvLanguage::Translate(const QString& fileName) {
  if (OnBeforeTranslation)
    OnBeforeTranslation(this);
  const QString file = fileName.isEmpty() ? resourceFile_ : fileName;
  const TIniFile ini(file.toStdString());
  const std::string section = "Translations";
  std::string badValue;
  for (const std::string& key : ini.KeyNames(section)) {
    const QString path = Trimmed(key);
    if (path.isEmpty())
      continue;
    // Of lines with one name the first counts.
    QString value = Trimmed(ini.ReadString(section, key, ""));
    value.replace('~', '\t');
    QStringList elements = path.split('.');
    const QString property = elements.takeLast().trimmed();
    if (elements.isEmpty() || value.isEmpty())
      continue;
    QList<QObject*> targets;
    const QString first = elements.front().trimmed();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows)
      if (w->objectName().compare(first, Qt::CaseInsensitive) == 0)
        targets.push_back(w);
    // A form docked into another window (the preview panel in its page, or in the window of an
    // embedded message) is no window of its own; its lines still name it first.
    for (QWidget* w : windows)
      if (QObject* docked = FindDescendant(w, first); docked && !targets.contains(docked))
        targets.push_back(docked);
    for (QObject* target : targets) {
      for (int i = 1; target && i < elements.size(); ++i)
        target = FindDescendant(target, elements[i].trimmed());
      if (!target)
        continue;
      const std::optional<Binding> b = Bind(target, property);
      if (!b)
        continue;
      QString v = value;
      if (OnTranslate)
        OnTranslate(this, target, v, b->kind == Kind::Text ? b->get() : QString(), property);
      switch (b->kind) {
      case Kind::Text:
        b->setText(v);
        break;
      case Kind::Integer: {
        bool ok = false;
        const int n = v.trimmed().toInt(&ok, 10);
        if (!ok) {
          // The line is left out and the rest of the file still applies; the first such
          // value is reported when the file is done.
          if (badValue.empty())
            badValue = "'" + v.toStdString() + "' is not a valid integer value (" +
                       path.toStdString() + ")";
          break;
        }
        b->setInteger(n);
        break;
      }
      case Kind::List: {
        QStringList items;
        const QStringList pieces =
            stringsSeparator_.isEmpty() ? QStringList{v} : v.split(stringsSeparator_);
        for (const QString& piece : pieces)
          items.push_back(piece.trimmed());
        if (!items.isEmpty() && items.back().isEmpty())
          items.pop_back();
        b->setList(items);
        break;
      }
      }
    }
  }
  if (OnAfterTranslation)
    OnAfterTranslation(this);
  if (!badValue.empty())
    throw EMSGError(badValue);
}

QString TQvLanguage::ReadCustomString(const QString& key, const QString& def) const {
  const TIniFile ini(resourceFile_.toStdString());
  if (!ini.ValueExists("Custom", key.toStdString()))
    return def;
  return Trimmed(ini.ReadString("Custom", key.toStdString(), ""));
}

QString GetLanguagesFolder() {
  const QString data = QString::fromStdString(DataFolder());
  if (QFileInfo(data + "languages").isDir())
    return data + "languages/";
  return data;
}

void TranslateForm(TQvLanguage& language, TSettings& settings, QObject* sender, QWidget* mainWindow,
                   const std::function<void(const QString&)>& showMessage) {
  QString name = QString::fromStdString(settings.LangFile);
  if (!sender && (name.isEmpty() ||
                  QFileInfo(name).fileName().compare("english.lng", Qt::CaseInsensitive) == 0))
    return;
  auto* item = qobject_cast<QAction*>(sender);
  if (item) {
    settings.SettingsChanged = true;
    if (item->property("tag").toInt() == kDefaultLanguageTag) {
      settings.LangFile.clear();
      showMessage(QString::fromStdString(MessageString("strSetDefaultLanguage")));
      return;
    }
    // The file's own name where the menu knows it: here file names are case-sensitive, and
    // the caption is the name with its first letter upper-cased.
    const QString file = item->data().toString();
    name = !file.isEmpty() ? file : GetLanguagesFolder() + item->text().remove('&') + ".lng";
  }
  settings.LangFile = name.toStdString();
  language.SetResourceFile(name);
  if (!sender || item)
    SetInterfaceLanguage(name);
  language.Translate(name);
  if (sender && !item)
    return; // a dialog: it was translated with every other window
  if (mainWindow)
    mainWindow->setWindowTitle("Orlendo (*.msg)");
  for (const TMessageString& s : MessageStringTable()) {
    const QString current = QString::fromStdString(MessageString(s.Key));
    SetMessageString(s.Key, language.ReadCustomString(s.Key, current).toStdString());
  }
  if (auto* band = mainWindow ? mainWindow->findChild<QLabel*>("lblFileName") : nullptr)
    band->setText(language.ReadCustomString("strFileName", band->text()));
}

} // namespace orlendo

#include "components/interface_locale.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTime>
#include <QTranslator>
#include <algorithm>
#include <cmath>
#include <memory>

#include "text/datetime.h"

namespace orlendo {
namespace {

QLocale& Current() {
  static QLocale locale = QLocale::c();
  return locale;
}

std::unique_ptr<QTranslator>& QtTranslator() {
  static std::unique_ptr<QTranslator> translator;
  return translator;
}

QLocale::Language LanguageNamed(const QString& name) {
  for (int l = QLocale::C + 1; l <= QLocale::LastLanguage; ++l) {
    const auto language = static_cast<QLocale::Language>(l);
    if (QLocale::languageToString(language).compare(name, Qt::CaseInsensitive) == 0)
      return language;
  }
  return QLocale::C;
}

} // namespace

void SetInterfaceLanguage(const QString& languageFile) {
  const QLocale::Language language = LanguageNamed(QFileInfo(languageFile).completeBaseName());
  Current() = language == QLocale::C ? QLocale::c() : QLocale(language);
  if (QtTranslator()) {
    QCoreApplication::removeTranslator(QtTranslator().get());
    QtTranslator().reset();
  }
  if (language == QLocale::C || language == QLocale::English)
    return;
  auto translator = std::make_unique<QTranslator>();
  if (translator->load(Current(), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator.get());
    QtTranslator() = std::move(translator);
  }
}

QLocale InterfaceLocale() {
  return Current();
}

QString InterfaceDateTimeText(TDateTime value) {
  const QLocale& locale = Current();
  if (locale.language() == QLocale::C || locale.language() == QLocale::English ||
      !std::isfinite(value) || value < -657434 || value > 2958465)
    return QString::fromStdString(DateTimeToText(value));
  // Days since 30 December 1899 and the fraction of the day, in the message's local time.
  const double days = std::floor(value);
  const qint64 msecs = std::min<qint64>(std::llround((value - days) * 86400000.0), 86399999);
  const QDate day = QDate(1899, 12, 30).addDays(static_cast<qint64>(days));
  const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs));
  QString date = locale.dateFormat(QLocale::ShortFormat);
  if (!date.contains(QLatin1String("yyyy")))
    date.replace(QLatin1String("yy"), QLatin1String("yyyy"));
  if (msecs == 0)
    return locale.toString(day, date);
  return locale.toString(day, date) + QLatin1Char(' ') +
         locale.toString(time, locale.timeFormat(QLocale::ShortFormat));
}

} // namespace orlendo

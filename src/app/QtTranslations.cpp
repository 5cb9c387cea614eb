#include "app/QtTranslations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace kelvara {

QString InstallQtTranslations(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const QLocale system;
  const bool english = system.language() == QLocale::English || system.language() == QLocale::C;
  QString language;
  if (!english && translator->load(system, "qtbase", "_", folder)) {
    language = QLocale::languageToCode(system.language());
  } else if (translator->load(QLocale(QLocale::Russian), "qtbase", "_", folder)) {
    language = "ru";
  }
  if (language.isEmpty()) {
    delete translator;
    return {};
  }
  app.installTranslator(translator);
  return language;
}

}  // namespace kelvara

// Qt's own texts (standard buttons, file and message dialogs) in the
// language of the program's texts.
#pragma once

#include <QCoreApplication>

namespace kelvara {

// Installs Qt's translation for the system's language when Qt has one and
// the language is not English; otherwise Russian, the language of the
// program's own texts. Returns the language installed ("" when none was
// found, e.g. without Qt's translation files).
QString InstallQtTranslations(QCoreApplication& app);

}  // namespace kelvara

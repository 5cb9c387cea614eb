// Qt's standard buttons speak the program's language: Russian on an English
// or C system, the system's own language where Qt has it.
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "app/QtTranslations.h"

using namespace kelvara;

class QtTranslationsTest : public QObject {
  Q_OBJECT

 private slots:
  void EnglishSystemGetsRussianButtons() {
    QLocale::setDefault(QLocale(QLocale::English));
    QCOMPARE(InstallQtTranslations(*QCoreApplication::instance()), QString("ru"));
    QMessageBox box(QMessageBox::Question, "t", "q", QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.button(QMessageBox::Yes)->text().remove('&'), QString("Да"));
    QCOMPARE(box.button(QMessageBox::No)->text().remove('&'), QString("Нет"));
  }

  void OtherLanguagesKeepTheirOwn() {
    QLocale::setDefault(QLocale(QLocale::German));
    QCOMPARE(InstallQtTranslations(*QCoreApplication::instance()), QString("de"));
  }
};

QTEST_MAIN(QtTranslationsTest)
#include "QtTranslationsTest.moc"

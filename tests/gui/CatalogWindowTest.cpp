// The TR-DOS catalog window, its entry editor and the viewer, used as a user
// would: the list and the description, the context menu's enabling, every
// command through the scripted dialogs, and the main window's opening of it.
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "ScriptedDialogs.h"
#include "app/TFLed.h"
#include "app/TFMain.h"
#include "app/TFmScr.h"
#include "app/T_ZXCAT.h"
#include "filesystems/CpmCatalog.h"
#include "session/TrdosCatalog.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"
#include "widgets/TSSHex.h"

using namespace kelvara;
using test::FakeDrive;
using test::PatternFile;
using test::ScriptedDialogs;
using test::TrdosFile;

class CatalogWindowTest : public QObject, test::MainWindowFixture {
  Q_OBJECT

 private:
  std::unique_ptr<TrdosCatalog> core;

  T_ZXCAT& Cat() { return *w->zxcat; }
  // The window opened on a disk of these files, nothing selected.
  void Open(const std::vector<TrdosFile>& files) {
    test::BuildTrdosDisk(w->Disk(), files);
    core = std::make_unique<TrdosCatalog>(w->Disk(), *dialogs, w->Settings());
    QVERIFY(core->OpenFromImage());
    Cat().Open(*core);
  }
  void Select(std::initializer_list<int> rows) {
    Cat().lv->clearSelection();
    for (int r : rows)
      Cat().lv->topLevelItem(r)->setSelected(true);
  }
  QStringList Names() {
    QStringList names;
    for (int i = 0; i < Cat().lv->topLevelItemCount(); ++i)
      names << Cat().lv->topLevelItem(i)->text(0).trimmed();
    return names;
  }
  QString Enabled() {
    Cat().pmPopup();
    QStringList on;
    for (QAction* a : Cat().pm->actions()) {
      if (!a->isSeparator() && a->isEnabled()) on << a->objectName();
    }
    return on.join(' ');
  }
  TTrdosCatalog OnDisk() {
    TTrdosCatalog cat;
    if (!ReadTrdosCatalog(w->Disk(), cat)) qWarning("no catalog on the image");
    return cat;
  }
  static TrdosFile Screen() {
    TrdosFile f = PatternFile("PICTURE", 'C', 27, 7);
    f.length = 6912;
    return f;
  }
  static TrdosFile Deleted(TrdosFile f) {
    f.deleted = true;
    return f;
  }

 private slots:
  void init() {
    MakeFixture();
    ShowWindow();
  }
  void cleanup() {
    w.reset();
    core.reset();
  }

  void theMainWindowListsARealDisk() {
    const QString trd = QFINDTESTDATA("../../../shared/testdata/EyeAche.trd");
    if (trd.isEmpty()) QSKIP("no real images beside the project");
    QVERIFY(w->LoadAndFinish(trd.toStdString()));
    QStringList names, values;
    QString title;
    dialogs->onDialog = [&](QDialog& d) {
      title = d.windowTitle();
      names = Names();
      for (QLabel* v : Cat().dv)
        values << v->text();
    };
    w->Item("N26")->trigger();
    QCOMPARE(title, QString("Каталог диска TR-DOS"));
    QCOMPARE(names, (QStringList{"EYEACHE-", "boot"}));
    QCOMPARE(values.mid(1), (QStringList{"80-дорожек", "9", "10", "2392", "2", "0"}));
    QCOMPARE(Cat().lv->topLevelItem(1)->text(2), QString("0A08"));
  }

  void notATrdosImageOpensNothing() {
    CreateCpmDisk(w->Disk());
    bool shown = false;
    dialogs->onDialog = [&](QDialog&) { shown = true; };
    w->N26Click();
    QVERIFY(!shown);
    QCOMPARE(dialogs->prompt.messages.back().text,
             std::string("Образ не соответствует стандартному TR-DOS диску!"));
  }

  void theMenuFollowsTheSelectionAndTheMode() {
    Open({Screen(), PatternFile("CODE", 'C', 2), Deleted(PatternFile("OLD", 'B', 1))});
    QCOMPARE(Cat().lv->contextMenuPolicy(), Qt::CustomContextMenu);
    Select({0});
    QCOMPARE(Enabled(), QString("scr1 hex1 N5 N6 N7 Hob scl1 N9 N3 N4"));
    Select({1});
    QCOMPARE(Enabled(), QString("hex1 N5 N6 N7 Hob scl1 N9 N3 N4"));
    Select({});
    QCOMPARE(Enabled(), QString("N5 N6 N7 Hob scl1 N3"));
    Cat().Item("N7")->trigger();  // deleted files shown
    QVERIFY(Cat().Item("N7")->isChecked());
    QCOMPARE(Names().size(), 3);
    Select({2});
    QCOMPARE(Enabled(), QString("hex1 N5 N6 N7 Hob scl1 N9 N10 N3"));

    // A drive's catalog: no menu, and the keys do nothing.
    const std::vector<uint8_t> track0 = test::RunBytes(w->Disk(), 0, 0, 16);
    QVERIFY(core->OpenFromDrive(track0));
    Cat().Open(*core);
    QCOMPARE(Cat().lv->contextMenuPolicy(), Qt::NoContextMenu);
    Select({1});
    QCOMPARE(Enabled(), QString());
    QTest::keyClick(Cat().lv, Qt::Key_Delete);
    QVERIFY(dialogs->prompt.questions.empty());
    QVERIFY(!Cat().DropFiles({dir->filePath("any.scl")}));
  }

  void viewsShowTheScreenAndTheBytes() {
    TrdosFile screen = Screen();
    screen.data.assign(6912, 0);
    screen.data[0] = 0x80;     // the top left pixel set
    screen.data[6144] = 0x47;  // bright white ink on black
    Open({screen, PatternFile("CODE", 'C', 2, 3)});
    QImage picture;
    QString caption;
    QSize size;
    QString firstLine;
    dialogs->onDialog = [&](QDialog& d) {
      QCOMPARE(&d, static_cast<QDialog*>(w->fmscr));
      caption = d.windowTitle();
      size = d.size();
      picture = w->fmscr->Image1->isVisible() ? w->fmscr->Picture() : QImage();
      firstLine = w->fmscr->ss1->isVisible() ? w->fmscr->ss1->LineText(0) : QString();
    };
    Select({0});
    QTest::keyClick(Cat().lv, Qt::Key_Return);  // Enter views a 6912-byte file as a screen
    QCOMPARE(picture.size(), QSize(256, 192));
    QCOMPARE(picture.pixelColor(0, 0), QColor(255, 255, 255));
    QCOMPARE(picture.pixelColor(1, 0), QColor(0, 0, 0));
    QCOMPARE(size, QSize(258, 194));

    Select({1});
    Cat().Item("hex1")->trigger();
    QCOMPARE(caption, QString("Просмотр файла в HEX виде."));
    const std::vector<uint8_t> bytes = test::PatternBytes(1, 3);
    QCOMPARE(firstLine.left(8), QString("0000: %1").arg(bytes[0], 2, 16, QChar('0')).toUpper());
    QVERIFY(!w->fmscr->ss1->isVisible());  // every pane hidden after the view
    Select({0});
    Cat().scr1Click();
    QCOMPARE(caption, QString("Просмотр файла в HEX виде."));  // a screen keeps the caption
  }

  void theTextPaneConvertsKoiAndCopies() {
    const std::vector<uint8_t> text = {'A', 0xC1, '\r', '\n', 'B', 0};
    QStringList shown;
    bool copyOffAtFirst = false;
    w->fmscr->pickFont = [](QFont& f) {
      f.setPointSize(20);
      return true;
    };
    dialogs->onDialog = [&](QDialog&) {
      TFmScr& v = *w->fmscr;
      shown << v.Memo1->toPlainText();
      v.pmMemoPopup();
      copyOffAtFirst = !v.miCopy->isEnabled();
      v.sbKoi->click();
      shown << v.Memo1->toPlainText();
      v.miSelectAll->trigger();
      v.pmMemoPopup();
      QVERIFY(v.miCopy->isEnabled());
      v.sbFont->click();
      QCOMPARE(v.Memo1->font().pointSize(), 20);
    };
    w->fmscr->ShowText(text);
    QCOMPARE(w->fmscr->windowTitle(), QString("Просмотр файла в TXT виде."));
    QVERIFY(copyOffAtFirst);
    // 0xC1 shown in the alternative code is a box-drawing line; as KOI-8 it
    // is the letter а.
    QCOMPARE(shown, (QStringList{"A┴\nB", "Aа\nB"}));
  }

  void exportsWriteHobetaAndSclFiles() {
    const std::vector<TrdosFile> files = {PatternFile("ONE", 'C', 2, 1),
                                          PatternFile("TWO", 'B', 1, 2)};
    Open(files);
    const std::string folder = dir->filePath("out").toStdString() + "/";
    QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
    dialogs->prompt.folders = {folder};
    Select({0, 1});
    Cat().Item("Hob")->trigger();
    QCOMPARE(test::ReadBytes(folder + "ONE.$C"), test::HobetaBytes(files[0]));
    QCOMPARE(test::ReadBytes(folder + "TWO.$B"), test::HobetaBytes(files[1]));
    QCOMPARE(w->Settings().HobetaDir, folder);
    // Where the files went is in the main window's LOG.
    QCOMPARE(w->Lzx1->currentItem()->text(),
             QString::fromStdString("Сохранено файлов - 2 в " + folder));

    dialogs->prompt.saveFiles = {folder + "both"};
    Cat().Item("scl1")->trigger();
    QCOMPARE(test::ReadBytes(folder + "both.scl"), test::SclBytes(files));
    QCOMPARE(w->Settings().SCLDir, folder);
    QCOMPARE(w->Lzx1->currentItem()->text(),
             QString::fromStdString("Сохранено файлов - 2 в " + folder + "both.scl"));
  }

  void importsAnSclOfSeveralFilesAndDroppedHobetas() {
    Open({PatternFile("FIRST", 'C', 1)});
    const std::string scl = dir->filePath("three.scl").toStdString();
    test::WriteBytes(scl, test::SclBytes({PatternFile("A", 'C', 2, 4), PatternFile("B", 'C', 1, 5),
                                          PatternFile("C", 'B', 3, 6)}));
    dialogs->prompt.openFiles = {{scl}};
    Cat().Item("N3")->trigger();
    QCOMPARE(Names(), (QStringList{"FIRST", "A", "B", "C"}));
    QCOMPARE(Cat().dv[5]->text(), QString("4"));
    QCOMPARE(test::RunBytes(w->Disk(), 1, 1, 2), test::PatternBytes(512, 4));

    const std::string hob = dir->filePath("D.$C").toStdString();
    test::WriteBytes(hob, test::HobetaBytes(PatternFile("D", 'C', 1, 8)));
    QVERIFY(Cat().DropFiles({QString::fromStdString(hob)}));
    QCOMPARE(Names().size(), 5);
    QVERIFY(Cat().DropFiles({QString::fromStdString(hob)}));  // the same checks and messages
    QCOMPARE(dialogs->prompt.messages.back().text,
             std::string("Файл с именем D       .C в образе уже существует..!"));
    QCOMPARE(OnDisk().FileCount, 5);
  }

  void deleteRestoreRenameAndCompactShowInTheListAndTheImage() {
    Open({PatternFile("ONE", 'C', 2, 1), PatternFile("TWO", 'C', 3, 2),
          PatternFile("THREE", 'C', 4, 3)});
    Select({1});
    QTest::keyClick(Cat().lv, Qt::Key_Delete);
    QCOMPARE(Names(), (QStringList{"ONE", "THREE"}));
    QCOMPARE(OnDisk().Entries[1].Name[0], 0x01);
    QCOMPARE(Cat().dv[6]->text(), QString("1"));

    Cat().Item("N7")->trigger();
    Select({1});
    dialogs->prompt.texts = {"W"};
    Cat().Item("N10")->trigger();
    QCOMPARE(Cat().lv->topLevelItem(1)->text(0).trimmed(), QString("WWO"));
    QCOMPARE(OnDisk().DeletedCount, 0);

    dialogs->prompt.texts = {"RENAMED"};
    Cat().Item("N6")->trigger();
    QCOMPARE(Cat().dv[0]->text(), QString("RENAMED"));
    QCOMPARE(int(test::ServiceByte(w->Disk(), 0xF5)), int('R'));

    Select({0});
    Cat().Item("N4")->trigger();
    Cat().Item("N7")->trigger();  // hidden again
    QCOMPARE(Names(), (QStringList{"WWO", "THREE"}));
    Cat().Item("N5")->trigger();
    QCOMPARE(Names(), (QStringList{"WWO", "THREE"}));
    const TTrdosCatalog cat = OnDisk();
    QCOMPARE(int(cat.Entries[0].FirstLinear()), 16);
    QCOMPARE(test::RunBytes(w->Disk(), 1, 0, 3), test::PatternBytes(768, 2));
    QCOMPARE(Cat().dv[4]->text(), QString::number(2560 - 16 - 7));
  }

  void theEditorStoresItsFields() {
    Open({PatternFile("ONE", 'C', 2)});
    Select({0});
    dialogs->onDialog = [&](QDialog& d) {
      auto& led = static_cast<TFLed&>(d);
      QCOMPARE(led.heStart->text(),
               QString("%1").arg(core->Catalog().Entries[0].Start, 4, 16, QChar('0')).toUpper());
      QCOMPARE(led.heSectors->text(), QString("02"));
      led.edName->setText("EDITED");
      led.heStart->setText("C350");
      led.bbOk->click();
    };
    Cat().Item("N9")->trigger();
    QCOMPARE(Names(), QStringList{"EDITED"});
    QCOMPARE(Cat().lv->topLevelItem(0)->text(2), QString("C350"));
    QCOMPARE(int(OnDisk().Entries[0].Start), 0xC350);
  }

  void onlyARealChangeMarksTheImageAndAtOnce() {
    test::BuildTrdosDisk(w->Disk(),
                         {PatternFile("ONE", 'C', 2), Deleted(PatternFile("OLD", 'B', 1)),
                          PatternFile("TWO", 'C', 1)});
    w->Disk().GetTrack(1).Sectors[3].Present = 0;  // TWO cannot move down
    bool unmarkedAfterRefusals = false;
    bool markedWhileOpen = false;
    dialogs->onDialog = [&](QDialog&) {
      Cat().Item("N7")->trigger();
      Select({1});  // the deleted file alone: the menu offers no delete
      QTest::keyClick(Cat().lv, Qt::Key_Delete);
      Cat().Item("N5")->trigger();  // asked, then refused at TWO's bad sector
      unmarkedAfterRefusals = !w->isWindowModified();
      dialogs->prompt.texts = {"CHANGED"};
      Cat().Item("N6")->trigger();
      markedWhileOpen = w->isWindowModified();
    };
    w->N26Click();
    QCOMPARE(dialogs->prompt.questions.size(), size_t(2));  // the compact's and the name's
    QVERIFY(unmarkedAfterRefusals);
    QVERIFY(markedWhileOpen);
  }

  void closingAfterAChangeRebuildsTheRawTrack() {
    CreateTrdosDisk(w->Disk(), "RAW");
    TTrack& t0 = w->Disk().GetTrack(0);
    t0.RawValid = 1;
    t0.MutableRaw(6000);
    t0.SectorHeader(8).DataOffset = 3000;  // sector 9
    dialogs->prompt.texts = {"CHANGED"};
    dialogs->onDialog = [&](QDialog&) { Cat().Item("N6")->trigger(); };
    w->N26Click();
    QCOMPARE(int(t0.RawData()[3000 + 0xF5]), int('C'));
  }
};

QTEST_MAIN(CatalogWindowTest)
#include "CatalogWindowTest.moc"

// The main window as a user drives it: menus, loading, saving, clearing,
// the settings dialog and dropped files.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLayout>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>

#include "ScriptedDialogs.h"
#include "app/TFMain.h"
#include "app/Tfmset.h"
#include "session/MainCommands.h"
#include "widgets/DiskMap.h"
#include "widgets/TSSHex.h"

using namespace kelvara;
using test::FakeDrive;
using test::ScriptedDialogs;
using test::WriteTrd;

class MainWindowTest : public QObject, test::MainWindowFixture {
  Q_OBJECT

 private:
  QString Ini() const { return dir->filePath("Kelvara.ini"); }
  std::unique_ptr<TFMain> NewWindow() {
    return std::make_unique<TFMain>(
        *dialogs, SettingsStore(Ini().toStdString(), dir->path().toStdString()), *drive);
  }
  bool Enabled(const char* name) { return w->Item(name)->isEnabled(); }
  void Drop(const QStringList& files, QWidget* target) {
    w->WMDropFiles(target->mapTo(w.get(), target->rect().center()), files);
  }

 private slots:
  void init() {
    MakeFixture();
    w = NewWindow();
    w->show();
    w->FormShow("", nullptr);
  }
  void cleanup() { w.reset(); }

  void imageMenuNeedsAnImage() {
    w->N1Click();
    for (const char* name : {"N32", "N26", "CPM1", "N12"})
      QVERIFY2(!Enabled(name), name);
    QVERIFY(Enabled("N31") && Enabled("N20"));
    QVERIFY(w->LoadAndFinish(WriteTrd(*dir, "a.trd", 2)));
    w->N1Click();
    for (const char* name : {"N32", "N26", "CPM1", "N12"})
      QVERIFY2(Enabled(name), name);
  }

  void diskMenuNeedsADriveAndSomeCommandsAnImage() {
    QVERIFY(w->Item("N2")->isEnabled());
    QCOMPARE(w->StatusPanel(0), QString("  Driver version - 01000000 / FDC Type - ENHANCED"));
    QCOMPARE(w->Item("N9")->text(), QString("Чтение секторов по  меткам"));
    w->N2Click();
    for (const char* name : {"N8", "N17", "N10"})
      QVERIFY2(Enabled(name), name);
    for (const char* name : {"N9", "N14", "N15", "N33"})
      QVERIFY2(!Enabled(name), name);
    w->LoadAndFinish(WriteTrd(*dir, "a.trd", 2));
    w->N2Click();
    for (const char* name : {"N8", "N9", "N17", "N14", "N15", "N33", "N10"})
      QVERIFY2(Enabled(name), name);
    drive->valid = false;
    w->N2Click();
    for (const char* name : {"N8", "N9", "N17", "N14", "N15", "N33", "N10"})
      QVERIFY2(!Enabled(name), name);
  }

  void failedDriveOpeningShowsItsMessagesAndDisablesTheDiskMenu() {
    drive->startup = {{"Ошибка загрузки драйвера!"}, "  Driver load error", false};
    w = NewWindow();
    w->FormShow("", nullptr);
    QCOMPARE(dialogs->prompt.messages.size(), size_t(1));
    QCOMPARE(dialogs->prompt.messages[0].caption, std::string("Ошибка!"));
    QCOMPARE(dialogs->prompt.messages[0].text, std::string("Ошибка загрузки драйвера!"));
    QCOMPARE(w->StatusPanel(0), QString("  Driver load error"));
    QVERIFY(!w->Item("N2")->isEnabled());
  }

  void virtualDriveOpensAtStartupWithTheDiskMenu() {
    DriveSession session(CreateFloppyDriver(WriteTrd(*dir, "in-drive.trd", 160)));
    TFMain window(*dialogs, SettingsStore(Ini().toStdString(), dir->path().toStdString()), session);
    window.FormShow("", nullptr);
    QVERIFY(dialogs->prompt.messages.empty());
    QVERIFY(window.StatusPanel(0).startsWith("  Driver version - 0100"));
    QVERIFY(window.StatusPanel(0).contains(" / FDC Type - "));
    QVERIFY(window.Item("N2")->isEnabled());
    window.N2Click();
    QVERIFY(window.Item("N8")->isEnabled());
  }

  void clearingOnNoKeepsEverythingAndOnYesEmptiesIt() {
    w->LoadAndFinish(WriteTrd(*dir, "a.trd", 4));
    w->Disk().Comment = {"line"};
    w->lb1->setPlainText("memo");
    w->Lzx1->addItem("log line");
    const uint8_t shown[] = {0x00};
    w->s1->SetBytes(shown);
    w->l2->setText("3");
    dialogs->prompt.answers = {Answer::No};
    w->N12Click();
    QCOMPARE(int(w->Disk().CountTracks()), 4);
    QCOMPARE(w->Lzx1->count(), 1);
    QCOMPARE(w->lb1->toPlainText(), QString("memo"));
    QCOMPARE(w->l2->text(), QString("3"));
    dialogs->prompt.answers = {Answer::Yes};
    w->N12Click();
    QCOMPARE(int(w->Disk().CountTracks()), 0);
    QVERIFY(w->Disk().Comment.empty());
    QCOMPARE(w->Lzx1->count(), 0);
    QVERIFY(w->lb1->toPlainText().isEmpty());
    QVERIFY(w->s1->IsEmpty());
    QVERIFY(w->l2->text().isEmpty() && w->l1->text().isEmpty());
  }

  void commandLineImageLoadsWithTheCommentPageShown() {
    const std::string path = WriteTrd(*dir, "game.trd", 3);
    w = NewWindow();
    w->FormShow(path, nullptr);
    QCOMPARE(int(w->Disk().CountTracks()), 3);
    QCOMPARE(w->StatusPanel(1), QString::fromStdString("Disk Image - " + path + " (Дорожек - 3)"));
    QCOMPARE(w->pc1->currentIndex(), 1);
    QCOMPARE(w->ImageFileName(), std::string("game.trd"));
    QVERIFY(dialogs->prompt.messages.empty());
  }

  void unsupportedFileLeavesAnEmptyImageAndSaysSo() {
    w->LoadAndFinish(WriteTrd(*dir, "a.trd", 2));
    QVERIFY(!w->LoadAndFinish(WriteTrd(*dir, "a.xyz", 2)));
    QCOMPARE(int(w->Disk().CountTracks()), 0);
    QVERIFY(w->StatusPanel(1).isEmpty());
    QCOMPARE(dialogs->prompt.MessageTexts().back(),
             std::string("Данный тип файлов не поддерживается!"));
    QCOMPARE(dialogs->prompt.messages.back().caption, std::string("Ошибка!"));
  }

  void failedReaderLogsItsLineAndEmptiesTheImage() {
    w->LoadAndFinish(WriteTrd(*dir, "a.trd", 2));
    w->lb1->setPlainText("memo");
    const std::string bad = dir->filePath("bad.fdi").toStdString();
    std::ofstream(bad, std::ios::binary) << "FDX";
    QVERIFY(!w->LoadAndFinish(bad));
    QCOMPARE(int(w->Disk().CountTracks()), 0);
    QCOMPARE(w->Lzx1->count(), 1);
    QVERIFY(w->Lzx1->item(0)->text().startsWith("Error load FDI -\""));
    QCOMPARE(w->StatusPanel(1), QString("Disk Image load error"));
    QVERIFY(w->lb1->toPlainText().isEmpty());
    QCOMPARE(w->ImageFileName(), std::string("a.trd"));
  }

  void openCommandRemembersTheFolderAndSaveProposesTheLoadedFile() {
    const std::string path = WriteTrd(*dir, "game.trd", 2);
    dialogs->openFiles = {path};
    w->N31Click();
    QCOMPARE(int(w->Disk().CountTracks()), 2);
    QCOMPARE(dialogs->shownSpecs.back().filterIndex, kOpenImageFilterIndex);
    QCOMPARE(dialogs->shownSpecs.back().title, std::string("Загрузить образ диска из файла.."));
    QCOMPARE(w->Settings().Directory_1, dir->path().toStdString() + "/");

    const std::string copy = dir->filePath("copy.trd").toStdString();
    dialogs->saveFiles = {copy};
    dialogs->chosenSaveFilter = 2;
    w->N32Click();
    QCOMPARE(dialogs->shownSpecs.back().fileName, std::string("game.trd"));
    QCOMPARE(dialogs->shownSpecs.back().folder, dir->path().toStdString() + "/");
    QCOMPARE(dialogs->shownSpecs.back().filterIndex, 2);
    QVERIFY(QFile::exists(QString::fromStdString(copy)));
    QCOMPARE(w->ImageFileName(), std::string("copy.trd"));
    // A new disk has no file: the dialog keeps the type last chosen.
    w->TRDOS1Click();
    dialogs->chosenSaveFilter = 0;
    dialogs->saveFiles = {};
    w->N32Click();
    QCOMPARE(dialogs->shownSpecs.back().filterIndex, 2);
    QCOMPARE(dialogs->shownSpecs.back().fileName, std::string("copy"));
  }

  void failedUdiSaveNamesTheTrackInTheLogAndIsNotRemembered() {
    w->LoadAndFinish(WriteTrd(*dir, "game.trd", 4));
    // Raw bytes without a single mark: no place for the track's sectors.
    TTrack& t = w->Disk().GetTrack(3);
    t.RawValid = 1;
    std::ranges::fill(t.MutableRaw(200), 0x4E);
    w->Lzx1->addItem("older line");
    dialogs->saveFiles = {dir->filePath("x.udi").toStdString()};
    w->N32Click();
    QCOMPARE(dialogs->prompt.messages.back().caption, std::string("Внимание..!"));
    QCOMPARE(dialogs->prompt.messages.back().text, std::string("Ошибка создания образа UDI"));
    QCOMPARE(w->Lzx1->count(), 1);
    QCOMPARE(w->Lzx1->item(0)->text(), QString("Ошибка в дорожке - 3 / Сектор - 0"));
    QCOMPARE(w->Lzx1->currentRow(), 0);
    QVERIFY(!QFile::exists(dir->filePath("x.udi")));
    QCOMPARE(w->ImageFileName(), std::string("game.trd"));
  }

  void hiddenProjectCommandsSaveAndLoadWithTheirDialogs() {
    w->LoadAndFinish(WriteTrd(*dir, "game.trd", 2));
    w->Disk().Comment = {"about this disk"};
    const std::string project = dir->filePath("game.udf").toStdString();
    dialogs->saveFiles = {project};
    w->N6Click();
    QCOMPARE(dialogs->shownSpecs.back().fileName, std::string("game.udf"));
    QCOMPARE(dialogs->shownSpecs.back().filter, std::string("Universal Disk Format (*.udf)|*.udf"));
    QVERIFY(QFile::exists(QString::fromStdString(project)));

    w->Disk().ClearImage();
    w->pc1->setCurrentIndex(0);
    dialogs->openFiles = {project};
    w->N4Click();
    QCOMPARE(int(w->Disk().CountTracks()), 2);
    QCOMPARE(w->StatusPanel(1),
             QString::fromStdString("Disk Image - " + project + " (Дорожек - 2)"));
    QCOMPARE(w->lb1->toPlainText(), QString("about this disk"));
    QCOMPARE(w->pc1->currentIndex(), 1);
    QVERIFY(!w->CatalogSnapshot.Valid);  // a pattern, not a TR-DOS disk
  }

  void newDisksShowTheMapFromTheTop() {
    w->LoadAndFinish(WriteTrd(*dir, "a.trd", 40));
    w->zxd->setCurrentIndex(w->zxd->model()->index(60, 5));
    dialogs->diskNames = {"ABC"};
    w->TRDOS1Click();
    QCOMPARE(int(w->Disk().CountTracks()), 160);
    const uint8_t* name = w->Disk().GetTrack(0).SectorHeader(8).Data().data() + 0xF5;
    QCOMPARE(std::string(name, name + 8), std::string("ABC     "));
    QCOMPARE(w->zxd->currentIndex().row(), 0);
    QCOMPARE(w->zxd->currentIndex().column(), 0);
    // The image's name stays for the save dialog; the status bar no longer
    // names the file the new disk did not come from.
    QCOMPARE(w->ImageFileName(), std::string("a.trd"));
    QVERIFY(w->StatusPanel(1).isEmpty() && w->StatusPanel(2).isEmpty());

    w->zxd->setCurrentIndex(w->zxd->model()->index(30, 2));
    w->CPMProfi1Click();
    QCOMPARE(int(w->Disk().CountTracks()), 160);
    QCOMPARE(int(w->Disk().GetTrack(0).SectorHeader(4).Sec), 9);
    QCOMPARE(w->zxd->currentIndex().row(), 0);
  }

  void panelsKeepNothingOfTheImageBeforeOnceItIsReplacedOrEmptied() {
    const std::function<void()> ways[] = {
        [&] { w->LoadAndFinish(WriteTrd(*dir, "a.xyz", 2)); },  // a failed load
        [&] { w->TRDOS1Click(); },
        [&] { w->CPMProfi1Click(); },
        [&] { w->N12Click(); },
    };
    for (const auto& way : ways) {
      w->LoadAndFinish(WriteTrd(*dir, "a.trd", 4));
      w->zxd->setCurrentIndex(w->zxd->model()->index(1, 3));
      const std::vector<uint8_t> shown = w->s1->Bytes();
      QVERIFY(!shown.empty() && w->pnb[1]->isEnabled() && !w->an[0]->text().isEmpty());
      way();
      QVERIFY(w->s1->Bytes() != shown && w->s1->IsReadOnly());
      for (QPushButton* b : w->pnb)
        QVERIFY(!b->isEnabled());
      for (QLabel* a : w->an)
        QVERIFY(a->text().isEmpty());
      QVERIFY(w->l1->text().isEmpty());
      QVERIFY(!w->StatusPanel(1).contains("a.trd") && !w->StatusPanel(2).contains("a.trd"));
    }
  }

  void unsavedWorkIsOfferedForSavingBeforeItIsReplaced() {
    const std::string a = WriteTrd(*dir, "a.trd", 4);
    const std::string b = WriteTrd(*dir, "b.trd", 2);
    w->LoadAndFinish(a);
    QVERIFY(!w->Modified() && !w->isWindowModified());
    w->SelTrack = 3;
    w->z8Click();  // "Убрать дорожку"
    QVERIFY(w->Modified() && w->isWindowModified());

    dialogs->prompt.answers = {Answer::Cancel};
    dialogs->openFiles = {b};
    w->N31Click();
    QCOMPARE(dialogs->prompt.questions.back(), std::string("Kelvara|Сохранить изменения?"));
    QCOMPARE(dialogs->openFiles.size(), size_t(1));  // the open dialog never came
    dialogs->prompt.answers = {Answer::Yes};         // and the save dialog is cancelled
    w->N31Click();
    QCOMPARE(dialogs->openFiles.size(), size_t(1));
    QVERIFY(w->Modified());
    // "Да" proposes the loaded file itself: Enter would save the edit there.
    QCOMPARE(dialogs->shownSpecs.back().folder + dialogs->shownSpecs.back().fileName, a);
    QCOMPARE(dialogs->shownSpecs.back().filterIndex, 2);

    const QString kept = dir->filePath("kept.trd");
    dialogs->prompt.answers = {Answer::Yes};
    dialogs->saveFiles = {kept.toStdString()};
    w->N31Click();
    QVERIFY(QFile::exists(kept));
    QCOMPARE(int(w->Disk().CountTracks()), 2);
    QVERIFY(!w->Modified() && !w->isWindowModified());

    // "Нет": a dropped file replaces the changed image without a save.
    w->SelTrack = 1;
    w->z8Click();
    dialogs->prompt.answers = {Answer::No};
    Drop({QString::fromStdString(a)}, w->zxd);
    QCOMPARE(int(w->Disk().CountTracks()), 4);
    QCOMPARE(dialogs->saveFiles.size(), size_t(0));
    QVERIFY(!w->Modified());
  }

  void captionAndStatusBarNameTheFileOfTheImage() {
    const std::string game = WriteTrd(*dir, "game.trd", 2);
    w->LoadAndFinish(game);
    QCOMPARE(w->windowTitle(), QString("game.trd[*] — Kelvara"));
    w->SelTrack = 1;
    w->z8Click();
    QVERIFY(w->isWindowModified());
    const std::string copy = dir->filePath("copy.udi").toStdString();
    dialogs->saveFiles = {copy};
    w->N32Click();
    QCOMPARE(w->windowTitle(), QString("copy.udi[*] — Kelvara"));
    QVERIFY(!w->isWindowModified());
    QCOMPARE(w->StatusPanel(1), QString::fromStdString("Disk Image - " + copy + " (Дорожек - 1)"));
    w->CPMProfi1Click();
    QCOMPARE(w->windowTitle(), QString("Kelvara[*]"));
  }

  void unacceptedHexEditsAreAskedAboutAndYesStoresThem() {
    w->LoadAndFinish(WriteTrd(*dir, "a.trd", 2));
    w->zxd->setCurrentIndex(w->zxd->model()->index(0, 1));
    w->s1->setFocus();
    QTest::keyClicks(w->s1, "a5");
    QVERIFY(w->pnb[0]->isEnabled() && !w->Modified());
    const std::string kept = dir->filePath("kept.trd").toStdString();
    dialogs->prompt.answers = {Answer::Yes};
    dialogs->saveFiles = {kept};
    Drop({QString::fromStdString(WriteTrd(*dir, "b.trd", 3))}, w->zxd);
    QCOMPARE(dialogs->prompt.questions, std::vector<std::string>{"Kelvara|Сохранить изменения?"});
    QCOMPARE(int(w->Disk().CountTracks()), 3);
    std::ifstream saved(kept, std::ios::binary);
    QCOMPARE(saved.get(), 0xA5);
  }

  void closingWithUnsavedWorkAsksAndCancelKeepsTheWindow() {
    w->LoadAndFinish(WriteTrd(*dir, "a.trd", 2));
    QVERIFY(!w->Modified());
    w->lb1->setPlainText("about the disk");
    w->lb1Exit();
    QVERIFY(w->Modified());
    dialogs->prompt.answers = {Answer::Cancel};
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    dialogs->prompt.answers = {Answer::No};
    QVERIFY(w->close());
    QCOMPARE(dialogs->prompt.questions.size(), size_t(2));
  }

  void dialogsStartInTheLastImagesFolderElseAtHome() {
    w->N31Click();
    QCOMPARE(dialogs->shownSpecs.back().folder, QDir::homePath().toStdString() + "/");
    // The folder settings hold their default, the program's folder.
    QCOMPARE(w->Settings().Directory_2, dir->path().toStdString() + "/");
    QDir(dir->path()).mkdir("images");
    w->LoadAndFinish(WriteTrd(*dir, "images/a.trd", 2));
    w->N32Click();
    QCOMPARE(dialogs->shownSpecs.back().folder, dir->filePath("images/").toStdString());
  }

  void captionsAreNotCutOff() {
    w->setWindowState(Qt::WindowNoState);  // the test screen is smaller than the window
    w->resize(1313, 646);
    auto* set = w->fmset;
    set->show();
    for (QCheckBox* box : set->cb)
      QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->text()));
    set->hide();
    w->sb[2]->setText("TD0 - Advanced compression, version 2.1, with a comment");
    w->statusBar()->layout()->activate();
    QVERIFY(w->sb[2]->width() >= w->sb[2]->sizeHint().width());
  }

  void saveDialogDefaultExtensionFollowsTheChosenType() {
    FileDialogSpec spec{
        "t", "A (*.udi)|*.udi|B (*.trd)|*.trd|C (*.kdi)|*.kdi", 1, {}, {}, {"udi", "trd", "kdi"}};
    auto dialog = MakeSaveDialog(nullptr, spec);
    QCOMPARE(dialog->defaultSuffix(), QString("udi"));
    auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
    QVERIFY(types);
    types->setCurrentIndex(2);
    // What a user's choice emits.
    emit types->activated(2);
    emit types->textActivated(types->currentText());
    QCOMPARE(dialog->defaultSuffix(), QString("kdi"));
    spec.filterIndex = 2;
    QCOMPARE(MakeSaveDialog(nullptr, spec)->defaultSuffix(), QString("trd"));
  }

  void settingsCancelChangesNothingAndDoesNotReopen() {
    dialogs->onDialog = [](QDialog& d) {
      auto& set = static_cast<Tfmset&>(d);
      QVERIFY(!set.bb1->isVisible());
      set.e[0]->setValue(77);
      QVERIFY(set.bb1->isVisible());
      set.BitBtn2->click();
    };
    w->N29Click();
    QCOMPARE(int(w->Settings().RetryCount), 10);
    QCOMPARE(drive->reopened, 0);
  }

  void settingsAcceptStoresTheFieldsAndReopensTheDrive() {
    dialogs->onDialog = [](QDialog& d) {
      auto& set = static_cast<Tfmset&>(d);
      set.e[0]->setValue(77);
      set.cbdr->setCurrentIndex(1);
      set.cbsr->setCurrentIndex(2);  // "500K"
      set.fluxNode->setText("/dev/ttyACM0");
      set.cbbus->setCurrentIndex(1);
      set.cbverify->setChecked(false);
      set.fluxSim->setText("/tmp/sim.trd");
      set.sbpns->setValue(140);
      set.cbdens->setCurrentIndex(2);
      set.bb1->click();
    };
    w->N29Click();
    QCOMPARE(int(w->Settings().RetryCount), 77);
    QCOMPARE(w->Settings().Drive, std::string("B"));
    QCOMPARE(int(w->Settings().Rate), 0);
    QCOMPARE(drive->reopened, 1);
    QSettings ini(Ini(), QSettings::IniFormat);
    QCOMPARE(ini.value("Option/RetryCount").toString(), QString("77"));
    QCOMPARE(ini.value("Option/Rate").toString(), QString("0"));
    QCOMPARE(ini.value("Option/FluxDevice").toString(), QString("/dev/ttyACM0"));
    QCOMPARE(ini.value("Option/FluxBus").toString(), QString("shugart"));
    QCOMPARE(ini.value("Option/FluxVerify").toString(), QString("0"));
    QCOMPARE(ini.value("Option/FluxSimImage").toString(), QString("/tmp/sim.trd"));
    QCOMPARE(ini.value("Option/PrecompNs").toString(), QString("140"));
    QCOMPARE(ini.value("Option/DensitySelect").toString(), QString("high"));

    // Changed and changed back: still accepted, still re-opened.
    dialogs->onDialog = [](QDialog& d) {
      auto& set = static_cast<Tfmset&>(d);
      set.e[1]->setValue(9);
      set.e[1]->setValue(5);
      set.bb1->click();
    };
    w->N29Click();
    QCOMPARE(drive->reopened, 2);
  }

  void settingsRefuseAFirstTrackAboveTheLastAndStayOpen() {
    bool openAfterRefusal = false;
    dialogs->onDialog = [&](QDialog& d) {
      auto& set = static_cast<Tfmset&>(d);
      set.e[2]->setValue(50);
      set.e[3]->setValue(49);
      set.bb1->click();
      openAfterRefusal = set.isVisible();
      set.BitBtn2->click();
    };
    w->N29Click();
    QVERIFY(openAfterRefusal);
    QCOMPARE(dialogs->prompt.MessageTexts(),
             std::vector<std::string>{"Начальная дорожка больше конечной..."});
    QCOMPARE(int(w->Settings().FirstTrack), 0);
    QCOMPARE(drive->reopened, 0);
  }

  void settingsKeepAValueOutsideItsFieldsRange() {
    w->Settings().GAP = 200;  // a stored GAP of 200 is valid, the field allows 1..30
    dialogs->onDialog = [](QDialog& d) {
      auto& set = static_cast<Tfmset&>(d);
      set.e[0]->setValue(3);
      set.bb1->click();
    };
    w->N29Click();
    QCOMPARE(int(w->Settings().GAP), 200);
  }

  void diskNameDialogOffersOnlyOkAndEightCharacters() {
    DiskNameDialog d(nullptr);
    QCOMPARE(d.windowTitle(), QString("Имя диска!"));
    QCOMPARE(d.edit->text(), QString("NEW DISK"));
    QCOMPARE(d.edit->maxLength(), 8);
    const QList<QAbstractButton*> buttons = d.findChild<QDialogButtonBox*>()->buttons();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons[0]->text(), QString("&Ok"));
  }

  void oneFileDroppedOnTheMapLoads() {
    Drop({QString::fromStdString(WriteTrd(*dir, "drop.trd", 2))}, w->zxd);
    QCOMPARE(int(w->Disk().CountTracks()), 2);
    QCOMPARE(dialogs->beeps, 0);
  }

  void twoFilesOrAFileOnTheLogBeepAndLoadNothing() {
    const QString a = QString::fromStdString(WriteTrd(*dir, "a.trd", 2));
    const QString b = QString::fromStdString(WriteTrd(*dir, "b.trd", 3));
    Drop({a, b}, w->zxd);
    QCOMPARE(dialogs->beeps, 1);
    w->pc1->setCurrentIndex(0);
    Drop({a}, w->Lzx1);
    QCOMPARE(dialogs->beeps, 2);
    QCOMPARE(int(w->Disk().CountTracks()), 0);
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"

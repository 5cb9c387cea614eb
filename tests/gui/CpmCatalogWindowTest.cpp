// The CP/M catalog window from the main window's menu, on a Profi disk image
// written here byte by byte from the CP/M directory layout (not by the
// program's own CP/M code): the list and its switches, the sizes and the
// space, the views and a saved file, the refusal of other disks, and the
// main window staying usable while the window is open.
#include <QApplication>
#include <QFontDatabase>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <memory>

#include "ScriptedDialogs.h"
#include "app/TFMain.h"
#include "app/TFmScr.h"
#include "app/T_cCat.h"
#include "filesystems/CpmCatalog.h"
#include "filesystems/Trdos.h"
#include "session/CpmCatalogWindow.h"
#include "widgets/TSSHex.h"

using namespace kelvara;
using test::FakeDrive;
using test::ScriptedDialogs;
using Bytes = std::vector<uint8_t>;

namespace {

// A flat Profi disk: 819200 bytes, 2048-byte block b at offset 2048 * b, the
// directory in blocks 0 and 1; a fresh disk is all 0xE5.
struct ProfiImage {
  Bytes bytes = Bytes(819200, 0xE5);

  // Entry `slot`: user, "NAME    EXT", extent (byte 12 and byte 14 above
  // 32), records, block numbers (16 bits, little-endian).
  void Entry(int slot, uint8_t user, const char* key, int extent, uint8_t records,
             std::initializer_list<int> blocks) {
    uint8_t* e = &bytes[static_cast<size_t>(slot) * 32];
    std::fill_n(e, 32, 0);
    e[0] = user;
    std::copy_n(key, 11, e + 1);
    e[12] = static_cast<uint8_t>(extent % 32);
    e[14] = static_cast<uint8_t>(extent / 32);
    e[15] = records;
    int i = 0;
    for (int b : blocks) {
      e[16 + 2 * i] = static_cast<uint8_t>(b);
      e[17 + 2 * i] = static_cast<uint8_t>(b >> 8);
      ++i;
    }
  }
  // The file's bytes into consecutive blocks from `first`.
  void Data(int first, const Bytes& data) {
    std::copy(data.begin(), data.end(), bytes.begin() + first * 2048);
  }
  std::string Write(const QTemporaryDir& dir) const {
    const std::string path = dir.filePath("disk.pro").toStdString();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
};

Bytes Pattern(size_t n, int seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(i * 13 + i / 251 + seed);
  return b;
}

// BIG.DAT: 293 records in three extents, its extents in slots freed by
// deleted files (extent 1 first); OLD.TXT deleted; SECRET.TXT of user 1;
// README.TXT of 17 records, text.
const Bytes kBig = Pattern(293 * 128, 5);
const Bytes kReadme = [] {
  Bytes b(17 * 128, 0);
  const char text[] = "FIRST LINE\r\nSECOND\r\n";
  std::copy_n(text, sizeof text - 1, b.begin());
  return b;
}();

ProfiImage SampleDisk() {
  ProfiImage d;
  d.Entry(0, 0, "BIG     DAT", 1, 128, {10, 11, 12, 13, 14, 15, 16, 17});
  d.Entry(1, 0xE5, "OLD     TXT", 0, 16, {30});
  d.Entry(2, 1, "SECRET  TXT", 0, 3, {31});
  d.Entry(3, 0, "BIG     DAT", 0, 128, {2, 3, 4, 5, 6, 7, 8, 9});
  d.Entry(4, 0, "BIG     DAT", 2, 37, {18, 19, 20});
  d.Entry(5, 0, "README  TXT", 0, 17, {32, 33});
  d.Data(2, kBig);
  d.Data(32, kReadme);
  d.Data(30, Bytes(2048, 'o'));
  return d;
}

}  // namespace

class CpmCatalogWindowTest : public QObject, test::MainWindowFixture {
  Q_OBJECT

 private:
  T_cCat& Cat() { return *w->cCat; }
  void OpenSample() {
    QVERIFY(w->LoadAndFinish(SampleDisk().Write(*dir)));
    w->N1Click();  // the menu opens: its items enabled for the image
    w->Item("CPM1")->trigger();
    QVERIFY(Cat().isVisible());
  }
  QStringList Rows() {
    QStringList rows;
    for (int i = 0; i < Cat().lv->topLevelItemCount(); ++i) {
      QStringList cells;
      for (int c = 0; c < Cat().lv->columnCount(); ++c)
        cells << Cat().lv->topLevelItem(i)->text(c);
      rows << cells.join('|');
    }
    return rows;
  }
  QStringList Description() {
    QStringList values;
    for (QLabel* v : Cat().dv)
      values << v->text();
    return values;
  }
  void Select(int row) {
    Cat().lv->clearSelection();
    Cat().lv->topLevelItem(row)->setSelected(true);
  }
  static QString Sep() { return QString::fromStdString(SystemDecimalSeparator()); }

 private slots:
  void init() {
    MakeFixture();
    ShowWindow();
  }
  void cleanup() { w.reset(); }

  void listsTheDirectoryWithItsSwitches() {
    OpenSample();
    QCOMPARE(Cat().windowTitle(), QString("Каталог диска CP/M"));
    // BIG.DAT is 293 records whatever the order of its extents' slots: 36 KB
    // and 640 bytes; the used space counts the blocks of every live extent,
    // the hidden file's too, and not the deleted file's.
    // No attribute bits, no disc label: "Flags" and "Метка диска" stay empty.
    const QString big = "BIG     |DAT|36" + Sep() + "64|00|00|";
    const QString readme = "README  |TXT|2" + Sep() + "128|00|00|";
    QCOMPARE(Rows(), (QStringList{big, readme}));
    QCOMPARE(Description(), (QStringList{"752 кБ", "48 кБ", "2", ""}));

    Cat().pmPopup();
    Cat().Item("N7")->trigger();
    QVERIFY(Cat().Item("N7")->isChecked());
    QCOMPARE(Rows(), (QStringList{"OLD     |TXT|2|E5|00|", big, readme}));
    Cat().Item("N8")->trigger();
    QCOMPARE(Rows(), (QStringList{"OLD     |TXT|2|E5|00|", "SECRET  |TXT|0" + Sep() + "384|01|00|",
                                  big, readme}));
    QCOMPARE(Description().at(2), QString("4"));
    Cat().Item("N7")->trigger();
    QCOMPARE(Rows().size(), 3);

    // The marks last for the run: closed and opened again, nothing changed.
    Cat().close();
    w->CPM1Click();
    QVERIFY(!Cat().Item("N7")->isChecked());
    QVERIFY(Cat().Item("N8")->isChecked());
    QCOMPARE(Rows().size(), 3);
  }

  void menuOffersFileCommandsOnlyForASelection() {
    OpenSample();
    const auto enabled = [this] {
      Cat().pmPopup();
      QStringList on;
      for (QAction* a : Cat().pm->actions()) {
        if (!a->isSeparator() && a->isEnabled()) on << a->objectName();
      }
      return on.join(' ');
    };
    Cat().lv->clearSelection();
    QCOMPARE(enabled(), QString("N7 N8 add1"));
    Select(1);
    // The picture view has no work on a CP/M disk.
    QCOMPARE(enabled(), QString("hex1 txt1 N7 N8 ren1 add1 del1 sav1"));
  }

  void viewsShowTheWholeFile() {
    OpenSample();
    Bytes hex;
    QString title;
    dialogs->onDialog = [&](QDialog& d) {
      title = d.windowTitle();
      hex = w->fmscr->ss1->Bytes();
    };
    Select(0);
    Cat().hex1Click();
    QCOMPARE(title, QString("Просмотр файла в HEX виде."));
    QVERIFY(hex == kBig);
    QCOMPARE(w->fmscr->ss1->font(), QFontDatabase::systemFont(QFontDatabase::FixedFont));

    Select(1);
    Cat().txt1Click();
    QCOMPARE(title, QString("Просмотр файла в TXT виде."));
    QCOMPARE(w->fmscr->TextLinesBytes(), (std::vector<std::string>{"FIRST LINE", "SECOND"}));
  }

  void savesAFileByteForByteAndAsksBeforeReplacing() {
    OpenSample();
    const std::string path = dir->filePath("big.cpm").toStdString();
    std::ofstream(path) << "old";
    dialogs->prompt.saveFiles = {path};
    dialogs->prompt.answers = {Answer::Yes};
    Select(0);
    Cat().Item("sav1")->trigger();
    QCOMPARE(
        dialogs->prompt.questions,
        (std::vector<std::string>{"Сохранить как", "Внимание!|Файл существует! Перезаписать?!"}));
    std::ifstream in(path, std::ios::binary);
    const Bytes saved{std::istreambuf_iterator<char>(in), {}};
    QVERIFY(saved == kBig);
    QCOMPARE(w->Settings().SCLDir, dir->path().toStdString() + "/");
  }

  // Each change asks where the TR-DOS window asks, goes into the image at
  // once and marks it as holding unsaved work.
  void addsDeletesAndRenamesFiles() {
    OpenSample();
    const std::string path = dir->filePath("new.txt").toStdString();
    std::ofstream(path) << "new file";
    dialogs->prompt.openFiles = {{path}};
    Cat().Item("add1")->trigger();
    QVERIFY(w->isWindowModified());
    // The deleted OLD.TXT's entry is the first free one.
    QCOMPARE(Rows().front(), QString("NEW     |TXT|0" + Sep() + "128|00|00|"));
    QCOMPARE(Description(), (QStringList{"750 кБ", "50 кБ", "3", ""}));

    Select(0);
    dialogs->prompt.answers = {Answer::No};
    Cat().Item("del1")->trigger();
    QCOMPARE(dialogs->prompt.questions.back(),
             std::string("Внимание..!|Вы действительно хотите удалить выбранные Файлы?"));
    QCOMPARE(Rows().size(), 3);
    dialogs->prompt.answers = {Answer::Yes};
    Cat().Item("del1")->trigger();
    QCOMPARE(Rows().size(), 2);

    Select(1);
    dialogs->prompt.texts = {"bad name"};
    Cat().Item("ren1")->trigger();
    QCOMPARE(dialogs->prompt.messages.back().caption, std::string("Ошибка..!"));
    dialogs->prompt.texts = {"read.me"};
    Cat().Item("ren1")->trigger();
    QCOMPARE(Rows().back(), QString("READ    |ME |2" + Sep() + "128|00|00|"));
  }

  void refusesADiskWithoutFiveOrSixSectorsOnTrackZero() {
    CreateTrdosDisk(w->Disk(), "TRDOS");
    w->Disk().CountTracks();
    w->N1Click();
    w->Item("CPM1")->trigger();
    QVERIFY(!Cat().isVisible());
    QCOMPARE(dialogs->prompt.messages.size(), size_t{1});
    QCOMPARE(dialogs->prompt.messages[0].caption + "|" + dialogs->prompt.messages[0].text,
             std::string("Ошибка!|Образ не соответствует CP/M диску!"));
  }

  void mainWindowStaysUsableWhileTheWindowIsOpen() {
    OpenSample();
    QVERIFY(!Cat().isModal());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(w->isEnabled());
    // A main-window command runs while the window is open, and the window
    // follows the new image at once.
    w->Item("CPMProfi1")->trigger();
    QVERIFY(Cat().isVisible());
    QCOMPARE(Rows(), QStringList{});
    QCOMPARE(Description(), (QStringList{"796 кБ", "4 кБ", "0", ""}));
    // An image that is no CP/M disk takes the window away.
    w->Item("N12")->trigger();
    QVERIFY(!Cat().isVisible());
  }
};

QTEST_MAIN(CpmCatalogWindowTest)
#include "CpmCatalogWindowTest.moc"

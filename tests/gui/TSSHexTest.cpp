// The hex grid as a user reads and types into it.
#include <QSignalSpy>
#include <QtTest>
#include <vector>

#include "widgets/TSSHex.h"

using namespace kelvara;

class SSHexTest : public QObject {
  Q_OBJECT

 private:
  static std::vector<uint8_t> Run(int n) {
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
      bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    return bytes;
  }

 private slots:
  void linesShowOffsetBytesAndCharacters() {
    TSSHex hex;
    std::vector<uint8_t> bytes = Run(40);
    bytes[16] = 0xC0;  // Cyrillic capital A in Windows-1251
    bytes[17] = 0x41;
    hex.SetBytes(bytes);
    QCOMPARE(hex.LineCount(), 3);
    QCOMPARE(hex.LineText(0),
             QString("0000: 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  ................"));
    QVERIFY(hex.LineText(1).startsWith("0010: C0 41 12"));
    QVERIFY(hex.LineText(1).endsWith(QString::fromUtf8("  АA..............")));
    QCOMPARE(hex.LineText(2),
             QString("0020: 20 21 22 23 24 25 26 27  ") + QString(25, ' ') + " !\"#$%&'");
    hex.Clear();
    QVERIFY(hex.IsEmpty());
    QCOMPARE(hex.LineCount(), 0);
  }

  void typedDigitsReplaceBytesAndReportChanges() {
    TSSHex hex;
    hex.SetBytes(Run(17));
    QSignalSpy changed(&hex, &TSSHex::byteChanged);
    QTest::keyClicks(&hex, "a5");
    QCOMPARE(int(hex.Bytes()[0]), 0);  // read-only until told otherwise
    QCOMPARE(changed.count(), 0);

    hex.SetBytes(Run(17));
    hex.SetReadOnly(false);
    QTest::keyClicks(&hex, "a5x01");
    QCOMPARE(int(hex.Bytes()[0]), 0xA5);
    QCOMPARE(int(hex.Bytes()[1]), 0x01);  // typed over with its own value
    QCOMPARE(changed.count(), 2);         // both digits of byte 0 changed it
    QCOMPARE(changed.at(0).at(0).toInt(), 0);
    QVERIFY(hex.Edited(0) && !hex.Edited(1));
    QCOMPARE(hex.Cursor(), 2);

    QTest::keyClick(&hex, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(hex.Cursor(), 16);
    QTest::keyClicks(&hex, "fff");
    QCOMPARE(int(hex.Bytes()[16]), 0xFF);
    QCOMPARE(hex.Bytes().size(), size_t(17));  // never more than shown
    QTest::keyClick(&hex, Qt::Key_Down);
    QCOMPARE(hex.Cursor(), 16);
    QTest::keyClick(&hex, Qt::Key_Up);
    QCOMPARE(hex.Cursor(), 0);
    hex.ClearEditMarks();
    QVERIFY(!hex.Edited(0));
  }

  void clickOnADigitPutsTheCursorThere() {
    TSSHex hex;
    hex.resize(600, 200);
    hex.SetBytes(Run(64));
    hex.SetReadOnly(false);
    hex.show();
    const int cw = hex.fontMetrics().horizontalAdvance('0');
    const int lineHeight = hex.fontMetrics().height();
    // Line 1, byte 9: column 6 + 27 + 1 = 34; its low digit one column on.
    QTest::mouseClick(hex.viewport(), Qt::LeftButton, {},
                      QPoint(4 + 35 * cw + cw / 2, lineHeight + lineHeight / 2));
    QCOMPARE(hex.Cursor(), 25);
    QVERIFY(hex.OnLowDigit());
    QTest::keyClicks(&hex, "e");
    QCOMPARE(int(hex.Bytes()[25]), 0x1E);
  }
};

QTEST_MAIN(SSHexTest)
#include "TSSHexTest.moc"

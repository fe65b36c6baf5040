// The settings file: its 52-byte layout, damaged files and the default placement.

#include "app/settingsfile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void roundTripIsByteExact();
    void readsOriginalLayout();
    void damagedFiles_data();
    void damagedFiles();
    void notRegularFiles_data();
    void notRegularFiles();
    void sanitize_data();
    void sanitize();
    void extremePlacement_data();
    void extremePlacement();
    void defaultPlacement_data();
    void defaultPlacement();
};

namespace {
Tsettingdata sample()
{
    Tsettingdata s{};
    s.viewdoc = 1;
    s.viewstyle = 0;
    s.reserved[0] = 0xAB;
    s.listheight = 200;
    s.placement = WINDOWPLACEMENT{44, 0, SW_SHOWMAXIMIZED, -1, -1, -8, -8, 102, 77, 921, 691};
    return s;
}
} // namespace

void TestSettings::roundTripIsByteExact()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tidewrack.inf");
    QVERIFY(WriteSettingsFile(path, sample()).ok());
    QCOMPARE(QFileInfo(path).size(), qint64(52));
    Tsettingdata back{};
    QCOMPARE(ReadSettingsFile(path, back), SettingsRead::Ok);
    const Tsettingdata expected = sample();
    QCOMPARE(std::memcmp(&back, &expected, 52), 0);
    QCOMPARE(back.reserved[0], std::uint8_t(0xAB)); // reserved bytes are written back as read
}

void TestSettings::readsOriginalLayout()
{
    // Little-endian bytes exactly as the original record lays them out.
    QByteArray bytes;
    auto put32 = [&bytes](quint32 v) {
        for (int i = 0; i < 4; ++i)
            bytes.append(char((v >> (8 * i)) & 0xFF));
    };
    bytes.append(char(0)).append(char(3)).append(char(0)).append(char(0));
    put32(321);
    for (quint32 v : {44u, 0u, 1u, quint32(-1), quint32(-1), 0u, 0u, 10u, 20u, 810u, 620u})
        put32(v);
    bytes.append("trailing bytes are ignored");
    QTemporaryDir dir;
    QFile file(dir.filePath("tidewrack.inf"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    Tsettingdata s{};
    QCOMPARE(ReadSettingsFile(file.fileName(), s), SettingsRead::Ok);
    QCOMPARE(int(s.viewdoc), 0);
    QCOMPARE(int(s.viewstyle), 3);
    QCOMPARE(s.listheight, 321);
    QCOMPARE(s.placement.length, 44u);
    QCOMPARE(s.placement.rcNormalRight, 810);
    QCOMPARE(s.placement.ptMinPositionX, -1);
}

void TestSettings::damagedFiles_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("result");
    QTest::newRow("missing") << -1 << int(SettingsRead::Missing);
    QTest::newRow("empty") << 0 << int(SettingsRead::Damaged);
    QTest::newRow("51 bytes") << 51 << int(SettingsRead::Damaged);
    QTest::newRow("52 bytes") << 52 << int(SettingsRead::Ok);
    QTest::newRow("longer") << 80 << int(SettingsRead::Ok);
}

void TestSettings::damagedFiles()
{
    QFETCH(int, size);
    QTemporaryDir dir;
    const QString path = dir.filePath("tidewrack.inf");
    if (size >= 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, '\x01'));
    }
    Tsettingdata s = sample();
    QTEST(int(ReadSettingsFile(path, s)), "result");
    const Tsettingdata untouched = sample();
    if (size >= 0 && size < 52) // nothing of a short file is taken over
        QCOMPARE(std::memcmp(&s, &untouched, 52), 0);
}

void TestSettings::notRegularFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("link to a FIFO") << "link";
    QTest::newRow("folder") << "folder";
}

void TestSettings::notRegularFiles()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath("tidewrack.inf");
    const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
    if (kind == "fifo")
        QVERIFY(QFile::rename(QString::fromLocal8Bit(fifo), path));
    else if (kind == "link")
        QVERIFY(QFile::link(QString::fromLocal8Bit(fifo), path));
    else
        QVERIFY(QDir().mkpath(path));
    // A read that blocks ends the test instead of hanging it.
    ::alarm(10);
    Tsettingdata s = sample();
    const SettingsRead result = ReadSettingsFile(path, s);
    ::alarm(0);
    QCOMPARE(result, SettingsRead::Missing);
    const Tsettingdata untouched = sample();
    QCOMPARE(std::memcmp(&s, &untouched, 52), 0);
}

void TestSettings::sanitize_data()
{
    QTest::addColumn<int>("viewdoc");
    QTest::addColumn<int>("viewstyle");
    QTest::addColumn<int>("listheight");
    QTest::addColumn<QRect>("normal");
    QTest::addColumn<int>("wantViewdoc");
    QTest::addColumn<int>("wantViewstyle");
    QTest::addColumn<int>("wantHeight");
    QTest::addColumn<bool>("placementKept");
    const QRect onScreen(100, 100, 800, 600);
    QTest::newRow("sane") << 0 << 0 << 200 << onScreen << 0 << 0 << 200 << true;
    QTest::newRow("list style kept") << 1 << 2 << 200 << onScreen << 1 << 2 << 200 << true;
    QTest::newRow("viewdoc 7") << 7 << 3 << 200 << onScreen << 1 << 3 << 200 << true;
    QTest::newRow("viewstyle 9") << 1 << 9 << 200 << onScreen << 1 << 3 << 200 << true;
    QTest::newRow("negative height") << 1 << 3 << -5 << onScreen << 1 << 3 << 140 << true;
    QTest::newRow("absurd height") << 1 << 3 << 900000 << onScreen << 1 << 3 << 140 << true;
    QTest::newRow("off every screen") << 1 << 3 << 200 << QRect(5000, 5000, 800, 600) << 1 << 3 << 200 << false;
    QTest::newRow("degenerate") << 1 << 3 << 200 << QRect(100, 100, 0, 0) << 1 << 3 << 200 << false;
}

void TestSettings::sanitize()
{
    QFETCH(int, viewdoc);
    QFETCH(int, viewstyle);
    QFETCH(int, listheight);
    QFETCH(QRect, normal);
    Tsettingdata s{};
    s.viewdoc = std::uint8_t(viewdoc);
    s.viewstyle = std::uint8_t(viewstyle);
    s.listheight = listheight;
    s.placement = WINDOWPLACEMENT{44,
                                  0,
                                  1,
                                  0,
                                  0,
                                  0,
                                  0,
                                  normal.left(),
                                  normal.top(),
                                  normal.left() + normal.width(),
                                  normal.top() + normal.height()};
    SanitizeSettings(s, {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)});
    QTEST(int(s.viewdoc), "wantViewdoc");
    QTEST(int(s.viewstyle), "wantViewstyle");
    QTEST(int(s.listheight), "wantHeight");
    QTEST(s.placement.length == 44, "placementKept");
}

void TestSettings::extremePlacement_data()
{
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("bottom");
    QTest::addColumn<bool>("kept");
    QTest::newRow("widest") << INT_MIN << 0 << INT_MAX << 600 << false;
    QTest::newRow("tallest") << 0 << INT_MIN << 800 << INT_MAX << false;
    QTest::newRow("right at the lowest") << 100 << 100 << INT_MIN << 700 << false;
    QTest::newRow("bottom at the lowest") << 100 << 100 << 900 << INT_MIN << false;
    QTest::newRow("left at the highest") << INT_MAX << 100 << 900 << 700 << false;
    QTest::newRow("at the far corner") << INT_MAX - 800 << INT_MAX - 600 << INT_MAX << INT_MAX << false;
    QTest::newRow("at the near corner") << INT_MIN << INT_MIN << INT_MIN + 800 << INT_MIN + 600 << false;
    QTest::newRow("reaching onto the screen") << -700 << -500 << 100 << 100 << true;
}

// Values no window ever had, from a damaged file: dropped, with defined arithmetic (the
// UBSan build of this test, tst_settings_ubsan, stops at any signed overflow).
void TestSettings::extremePlacement()
{
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, right);
    QFETCH(int, bottom);
    Tsettingdata s = sample();
    s.placement = WINDOWPLACEMENT{44, 0, SW_SHOWNORMAL, INT_MIN, INT_MAX, INT_MAX, INT_MIN, left, top, right, bottom};
    SanitizeSettings(s, {QRect(0, 0, 1920, 1080), QRect(-1280, 0, 1280, 1024)});
    QTEST(s.placement.length == 44, "kept");
}

void TestSettings::defaultPlacement_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QRect>("window");
    QTest::newRow("1024x768") << QSize(1024, 768) << QRect(102, 77, 819, 614);
    QTest::newRow("1920x1080") << QSize(1920, 1080) << QRect(192, 108, 1536, 864);
    QTest::newRow("odd") << QSize(1023, 767) << QRect(102, 77, 818, 613);
}

void TestSettings::defaultPlacement()
{
    QFETCH(QSize, screen);
    QTEST(DefaultPlacementRect(screen.width(), screen.height()), "window");
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"

// The collect box's logic on plain lists, without widgets: the identity of a collected
// document, adding and removing by name, the texts that show the count, and the rule that
// starts a drag out of the label.

#include "collections/collectbox.h"

#include <QtTest>

namespace {

// A record whose local file name is `name`, which must outlive it.
Tcachedata recordNamed(const char *name)
{
    Tcachedata record{};
    record.header.lpszLocalFileName = const_cast<char *>(name);
    return record;
}

} // namespace

class TestCollectList : public QObject {
    Q_OBJECT
private slots:
    void sameLocalFileName_data();
    void sameLocalFileName();
    void addAndRemoveByName();
    void texts_data();
    void texts();
    void startsDrag_data();
    void startsDrag();
};

void TestCollectList::sameLocalFileName_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("identical") << "/c/a.htm"
                               << "/c/a.htm" << true;
    QTest::newRow("ascii case") << "/Cache/INDEX[1].HTM"
                                << "/cache/index[1].htm" << true;
    QTest::newRow("beyond ascii") << "/c/ÄÖÜ.htm"
                                  << "/c/äöü.htm" << true;
    QTest::newRow("greek") << "/c/ΣΟΦΙΑ.txt"
                           << "/c/σοφια.txt" << true;
    QTest::newRow("chinese kept") << "/c/采集.htm"
                                  << "/c/采集.htm" << true;
    QTest::newRow("other chinese") << "/c/采集.htm"
                                   << "/c/搜索.htm" << false;
    QTest::newRow("prefix") << "/c/a.htm"
                            << "/c/a.html" << false;
    QTest::newRow("folder differs") << "/c/a.htm"
                                    << "/d/a.htm" << false;
    QTest::newRow("empty and text") << ""
                                    << "/c/a.htm" << false;
    QTest::newRow("both empty") << ""
                                << "" << true;
}

void TestCollectList::sameLocalFileName()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    const QByteArray ua = a.toUtf8(), ub = b.toUtf8();
    QTEST(SameLocalFileName(ua.constData(), ub.constData()), "same");
    QTEST(SameLocalFileName(ub.constData(), ua.constData()), "same");
}

void TestCollectList::addAndRemoveByName()
{
    CollectList list;
    const Tcachedata a = recordNamed("/c/a.htm"), upperA = recordNamed("/c/A.HTM"), b = recordNamed("/c/b.htm");
    Tcachedata none{}; // no local file name: reads as ""
    QVERIFY(AddToCollectList(list, a));
    QVERIFY(!AddToCollectList(list, upperA));
    QVERIFY(AddToCollectList(list, b));
    QVERIFY(AddToCollectList(list, none));
    QVERIFY(!AddToCollectList(list, none));
    QCOMPARE(CollectedPaths(list), (QStringList{"/c/a.htm", "/c/b.htm", ""}));
    QCOMPARE(FindCollected(list, "/C/B.htm"), std::ptrdiff_t(1));
    QCOMPARE(FindCollected(list, nullptr), std::ptrdiff_t(2));
    QCOMPARE(FindCollected(list, "/c/x.htm"), std::ptrdiff_t(-1));

    // A header copy keeps the record's header, texts still pointing where they did.
    QCOMPARE(list[0].header.lpszLocalFileName, a.header.lpszLocalFileName);

    QVERIFY(RemoveFromCollectList(list, "/C/A.htm"));
    QVERIFY(!RemoveFromCollectList(list, "/c/a.htm"));
    QCOMPARE(CollectedPaths(list), (QStringList{"/c/b.htm", ""}));

    // The keys of one walk stay in step with the list as it grows.
    const Tcachedata c = recordNamed("/c/c.htm"), d = recordNamed("/c/d.htm");
    CollectKeys keys(list);
    QVERIFY(AddToCollectList(list, keys, c));
    QVERIFY(!AddToCollectList(list, keys, recordNamed("/c/C.HTM")));
    QVERIFY(!AddToCollectList(list, keys, b));
    QVERIFY(AddToCollectList(list, keys, d));
    QCOMPARE(CollectedPaths(list), (QStringList{"/c/b.htm", "", "/c/c.htm", "/c/d.htm"}));

    // Several names in one pass; the rest keep their order; unknown names are no error.
    const QSet<QString> gone{CollectKey("/C/C.htm"), CollectKey("/c/b.htm"), CollectKey("/c/none.htm")};
    QCOMPARE(RemoveFromCollectList(list, gone), std::size_t(2));
    QCOMPARE(CollectedPaths(list), (QStringList{"", "/c/d.htm"}));
}

void TestCollectList::texts_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    QTest::newRow("empty") << 0 << "采集盒"
                           << "采集盒";
    QTest::newRow("one") << 1 << "采集盒(1)"
                         << "采集盒-现在有个1文档";
    QTest::newRow("three") << 3 << "采集盒(3)"
                           << "采集盒-现在有个3文档";
    QTest::newRow("many") << 1234 << "采集盒(1234)"
                          << "采集盒-现在有个1234文档";
}

void TestCollectList::texts()
{
    QFETCH(int, count);
    QTEST(CollectNodeCaption(std::size_t(count)), "caption");
    QTEST(CollectHint(std::size_t(count)), "hint");
}

void TestCollectList::startsDrag_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QPoint>("pressedAt");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("starts");
    const int left = Qt::LeftButton, right = Qt::RightButton, none = Qt::NoModifier;
    const QPoint p(12, 14);
    QTest::newRow("9 and 9") << left << none << p << p + QPoint(9, 9) << false;
    QTest::newRow("10 right") << left << none << p << p + QPoint(10, 0) << true;
    QTest::newRow("10 down") << left << none << p << p + QPoint(0, 10) << true;
    QTest::newRow("10 left") << left << none << p << p - QPoint(10, 0) << true;
    QTest::newRow("10 up, 9 left") << left << none << p << p - QPoint(9, 10) << true;
    QTest::newRow("right button") << right << none << p << p + QPoint(10, 0) << true;
    QTest::newRow("no button") << int(Qt::NoButton) << none << p << p + QPoint(20, 0) << false;
    QTest::newRow("middle") << int(Qt::MiddleButton) << none << p << p + QPoint(20, 0) << false;
    QTest::newRow("left and right") << (left | right) << none << p << p + QPoint(20, 0) << false;
    QTest::newRow("ctrl") << left << int(Qt::ControlModifier) << p << p + QPoint(20, 0) << false;
    QTest::newRow("shift") << left << int(Qt::ShiftModifier) << p << p + QPoint(20, 0) << false;
    QTest::newRow("alt") << right << int(Qt::AltModifier) << p << p + QPoint(20, 0) << false;
    QTest::newRow("keypad counts not") << left << int(Qt::KeypadModifier) << p << p + QPoint(20, 0) << true;
    QTest::newRow("no press yet") << left << none << NoPressPoint << QPoint(30, 30) << false;
}

void TestCollectList::startsDrag()
{
    QFETCH(int, buttons);
    QFETCH(int, modifiers);
    QFETCH(QPoint, pressedAt);
    QFETCH(QPoint, at);
    QTEST(StartsCollectDrag(Qt::MouseButtons(buttons), Qt::KeyboardModifiers(modifiers), pressedAt, at), "starts");
}

QTEST_GUILESS_MAIN(TestCollectList)
#include "tst_collectlist.moc"

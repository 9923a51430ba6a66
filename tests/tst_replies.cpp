// Cutting replies off the receive buffer: whole, split, back to back, noisy and babbling lines.
#include "link/replies.h"

#include <QtTest>

using namespace chamber;

namespace {

const QByteArray reply250 = QByteArray::fromHex("01030200fa3807");
const QByteArray reply256 = QByteArray::fromHex("0103020100b9d4");

QString describe(const Reply &reply)
{
    static const char *kinds[] = {"temperature", "echo", "exception", "bad crc"};
    const QString value =
        reply.kind == Reply::Temperature ? QStringLiteral(" %1").arg(reply.value) : QString();
    return QStringLiteral("%1%2, %3 bytes")
        .arg(QLatin1String(kinds[reply.kind]), value)
        .arg(reply.length);
}

struct Fed
{
    QStringList replies;
    QByteArray rest;
    qsizetype largest = 0; // the largest buffer seen after bounding
    QString fault;         // a length outside 1..buffer size
};

// Feeds the pieces the way the window does on each arrival: append, bound, then cut replies
// off the head until none is complete.
Fed feed(const QByteArrayList &pieces, QByteArray buffer = {})
{
    Fed fed;
    for (const QByteArray &piece : pieces) {
        buffer.append(piece);
        boundRxBuffer(buffer);
        fed.largest = qMax(fed.largest, buffer.size());
        while (const std::optional<Reply> reply = cutReply(buffer)) {
            if (reply->length < 1 || reply->length > buffer.size()) {
                fed.fault = QStringLiteral("length %1 of a buffer of %2")
                                .arg(reply->length)
                                .arg(buffer.size());
                return fed;
            }
            fed.replies.append(describe(*reply));
            buffer.remove(0, reply->length);
        }
    }
    fed.rest = buffer;
    return fed;
}

} // namespace

class tst_replies : public QObject
{
    Q_OBJECT

private slots:
    void decoding_data();
    void decoding();
    void bounding();
    void babble_data();
    void babble();
};

void tst_replies::decoding_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QByteArray>("rest");

    const auto hex = [](const char *text) { return QByteArray::fromHex(text); };

    QTest::newRow("temperature 250")
        << QByteArrayList{reply250} << QStringList{"temperature 250, 7 bytes"} << QByteArray();
    QTest::newRow("largest positive register")
        << QByteArrayList{hex("0103027fffd834")} << QStringList{"temperature 32767, 7 bytes"}
        << QByteArray();
    QTest::newRow("negative temperature FF 9C")
        << QByteArrayList{hex("010302ff9cf9dd")} << QStringList{"temperature -100, 7 bytes"}
        << QByteArray();
    QTest::newRow("split after the header")
        << QByteArrayList{hex("010302"), hex("00fa3807")} << QStringList{"temperature 250, 7 bytes"}
        << QByteArray();
    QTest::newRow("two replies in one piece")
        << QByteArrayList{reply250 + reply256}
        << QStringList{"temperature 250, 7 bytes", "temperature 256, 7 bytes"} << QByteArray();
    QTest::newRow("leading noise goes with the reply")
        << QByteArrayList{hex("ff") + reply250} << QStringList{"temperature 250, 8 bytes"}
        << QByteArray();
    QTest::newRow("noise waits for the next reply")
        << QByteArrayList{hex("0300"), reply250} << QStringList{"temperature 250, 9 bytes"}
        << QByteArray();
    QTest::newRow("bad crc") << QByteArrayList{hex("01030200fa3808")}
                             << QStringList{"bad crc, 7 bytes"} << QByteArray();
    QTest::newRow("echo of settemp 250")
        << QByteArrayList{hex("0106012c00fac9bc")} << QStringList{"echo, 8 bytes"} << QByteArray();
    QTest::newRow("exception 86, good crc")
        << QByteArrayList{hex("01860183a0")} << QStringList{"exception, 5 bytes"} << QByteArray();
    QTest::newRow("exception with bad crc, then a reply")
        << QByteArrayList{hex("0183020000") + reply250} << QStringList{"temperature 250, 12 bytes"}
        << QByteArray();
    QTest::newRow("noise 01 83 does not swallow the reply behind it")
        << QByteArrayList{hex("0183") + reply250} << QStringList{"temperature 250, 9 bytes"}
        << QByteArray();
    QTest::newRow("unknown code, then a good reply")
        << QByteArrayList{hex("01050000"), reply250} << QStringList{"temperature 250, 11 bytes"}
        << QByteArray();
    QTest::newRow("cut-off reply swallows the next one's head")
        << QByteArrayList{hex("0103"), reply250} << QStringList{"bad crc, 7 bytes"} << hex("3807");
    QTest::newRow("no 01: buffer stays")
        << QByteArrayList{hex("0300")} << QStringList() << hex("0300");
    QTest::newRow("incomplete reply waits")
        << QByteArrayList{hex("01030200fa")} << QStringList() << hex("01030200fa");
    QTest::newRow("reply, then the start of another")
        << QByteArrayList{reply250 + hex("010302")} << QStringList{"temperature 250, 7 bytes"}
        << hex("010302");
}

// Decoding may not depend on how the line cuts the bytes into pieces, so every row is also fed
// split in two at every position and byte by byte.
void tst_replies::decoding()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QStringList, replies);
    QFETCH(QByteArray, rest);

    const Fed fed = feed(pieces);
    QVERIFY2(fed.fault.isEmpty(), qPrintable(fed.fault));
    QCOMPARE(fed.replies, replies);
    QCOMPARE(fed.rest.toHex(' '), rest.toHex(' '));

    const QByteArray all = pieces.join();
    for (qsizetype split = 1; split < all.size(); ++split) {
        const Fed twoPieces = feed({all.left(split), all.mid(split)});
        QVERIFY2(twoPieces.fault.isEmpty(), qPrintable(twoPieces.fault));
        QCOMPARE(twoPieces.replies, replies);
        QCOMPARE(twoPieces.rest.toHex(' '), rest.toHex(' '));
    }

    QByteArrayList bytes;
    for (const char byte : all)
        bytes.append(QByteArray(1, byte));
    const Fed bytewise = feed(bytes);
    QCOMPARE(bytewise.replies, replies);
    QCOMPARE(bytewise.rest.toHex(' '), rest.toHex(' '));
}

void tst_replies::bounding()
{
    // the newest bytes stay, in order
    QByteArray over;
    for (int i = 0; i < 300; ++i)
        over.append(char(i));
    const QByteArray newest = over.right(rxBufferLimit);
    boundRxBuffer(over);
    QCOMPARE(over.toHex(' '), newest.toHex(' '));
}

void tst_replies::babble_data()
{
    QTest::addColumn<QByteArray>("babble");

    QByteArray random;
    QRandomGenerator generator(20240611);
    for (int i = 0; i < 1000; ++i)
        random.append(char(generator.bounded(256)));
    QTest::newRow("random bytes") << random;
    QTest::newRow("only address bytes") << QByteArray(1000, '\x01');
    QTest::newRow("address and unknown code") << QByteArray("\x01\x05").repeated(500);
    QTest::newRow("cut-off reply headers") << QByteArray("\x01\x03").repeated(500);
    QTest::newRow("exceptions") << QByteArray::fromHex("018302c0f1").repeated(200);
}

// A babbling line may not grow the buffer past its bound, and the first good replies after it
// must still decode: one copy may be swallowed by a frame begun in the noise, never both.
void tst_replies::babble()
{
    QFETCH(QByteArray, babble);

    QByteArrayList pieces;
    for (qsizetype at = 0, size = 1; at < babble.size(); at += size, size = size % 37 + 1)
        pieces.append(babble.mid(at, size));
    pieces.append(reply250 + reply250);

    const Fed fed = feed(pieces);
    QVERIFY2(fed.fault.isEmpty(), qPrintable(fed.fault));
    QVERIFY2(fed.largest <= rxBufferLimit, qPrintable(QString::number(fed.largest)));
    QVERIFY(!fed.replies.isEmpty());
    QVERIFY2(fed.replies.last().startsWith("temperature 250,"), qPrintable(fed.replies.last()));
    QCOMPARE(fed.rest, QByteArray());

    // the whole babble in one piece is bounded as well
    const Fed onePiece = feed({babble});
    QVERIFY(onePiece.largest <= rxBufferLimit);
    const Fed after = feed({reply250 + reply250}, onePiece.rest);
    QVERIFY(!after.replies.isEmpty());
    QVERIFY2(after.replies.last().startsWith("temperature 250,"), qPrintable(after.replies.last()));
    QCOMPARE(after.rest, QByteArray());
}

QTEST_GUILESS_MAIN(tst_replies)
#include "tst_replies.moc"

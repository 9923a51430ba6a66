// Cutting replies off the receive buffer: whole, split, back to back, noisy and babbling lines.
#include "link/replies.h"

#include <QtTest>

using namespace chamber;

namespace {

const QByteArray reply250 = QByteArray::fromHex("01030200fa3807");

// Feeds the pieces the way the window does on each arrival: append, bound, then cut replies off
// the head until none is complete. Says what came: "250/7" for a temperature and the bytes it
// took, "echo/8", "exception/5" or "crc/7", then the bytes left over in hex.
QString feed(const QByteArrayList &pieces)
{
    const char *kinds[] = {"", "echo", "exception", "crc"};
    QByteArray buffer;
    QStringList said;
    for (const QByteArray &piece : pieces) {
        buffer.append(piece);
        boundRxBuffer(buffer);
        if (buffer.size() > rxBufferLimit)
            return QStringLiteral("unbounded");
        while (const std::optional<Reply> reply = cutReply(buffer)) {
            said << (reply->kind == Reply::Temperature ? QString::number(reply->value)
                                                       : kinds[reply->kind]) +
                        '/' + QString::number(reply->length);
            buffer.remove(0, reply->length);
        }
    }
    return (said << QString::fromLatin1(buffer.toHex())).join(' ').trimmed();
}

} // namespace

class tst_replies : public QObject
{
    Q_OBJECT
private slots:
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("said");
        const auto row = [](const char *name, const char *hex, const char *said) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << QString(said);
        };
        row("largest positive register", "0103027fffd834", "32767/7");
        row("negative temperature FF 9C", "010302ff9cf9dd", "-100/7");
        row("two replies, then the start of another", "01030200fa3807 0103020100b9d4 010302",
            "250/7 256/7 010302");
        row("leading noise goes with the reply", "ff 01030200fa3807", "250/8");
        row("bad crc", "01030200fa3808", "crc/7");
        row("echo of settemp 250, exception 86", "0106012c00fac9bc 01860183a0",
            "echo/8 exception/5");
        row("noise 01 83 does not swallow the reply behind it", "0183 01030200fa3807", "250/9");
        row("unknown code, then a good reply", "01050000 01030200fa3807", "250/11");
        row("cut-off reply swallows the next one's head", "0103 01030200fa3807", "crc/7 3807");
        row("no 01: buffer stays", "0300", "0300");
    }
    // Decoding may not depend on how the line cuts the bytes into pieces, so every row is fed
    // whole, byte by byte and split in two at every position.
    void decoding()
    {
        QFETCH(QByteArray, bytes);
        QList<QByteArrayList> cuts = {{bytes}, {}};
        for (const char byte : bytes)
            cuts[1].append(QByteArray(1, byte));
        for (qsizetype split = 1; split < bytes.size(); ++split)
            cuts.append({bytes.left(split), bytes.mid(split)});
        for (const QByteArrayList &pieces : cuts)
            QTEST(feed(pieces), "said");
    }

    void babble_data()
    {
        QTest::addColumn<QByteArray>("babble");
        QByteArray random;
        QRandomGenerator generator(20240611);
        for (int i = 0; i < 1000; ++i)
            random.append(char(generator.bounded(256)));
        QTest::newRow("random bytes") << random;
        QTest::newRow("only address bytes") << QByteArray(1000, '\x01');
        QTest::newRow("cut-off reply headers") << QByteArray("\x01\x03").repeated(500);
        QTest::newRow("exceptions") << QByteArray::fromHex("018302c0f1").repeated(200);
    }
    // A babbling line may not grow the buffer past its bound, and the first good replies after it
    // must still decode: one copy may be swallowed by a frame begun in the noise, never both.
    void babble()
    {
        QFETCH(QByteArray, babble);
        QByteArrayList pieces;
        for (qsizetype at = 0, size = 1; at < babble.size(); at += size, size = size % 37 + 1)
            pieces.append(babble.mid(at, size));
        const QString said = feed(pieces << reply250 + reply250);
        QVERIFY2(said.endsWith(" 250/7"), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(tst_replies)
#include "tst_replies.moc"

// Cutting replies off the receive buffer: whole, split, back to back, noisy and babbling lines;
// and a setpoint write watched until its echo confirms it.
#include "link/pendingwrite.h"
#include "link/replies.h"

#include <QtTest>

using namespace chamber;

namespace {

const QByteArray reply250 = QByteArray::fromHex("01030200fa3807");

// Feeds the pieces the way the window does on each arrival: append, bound, then cut replies off
// the head until none is complete. Says what came: "250/7" for a temperature and the bytes it
// took, "echo250/8" with the value written, "exception134/5" with the function refused or
// "crc/7", then the bytes left over in hex.
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
            said << (reply->kind == Reply::BadCrc ? QString() : QString::number(reply->value))
                            .prepend(kinds[reply->kind]) +
                        '/' + QString::number(reply->length);
            buffer.remove(0, reply->length);
        }
    }
    return (said << QString::fromLatin1(buffer.toHex())).join(' ').trimmed();
}

// Plays events to a PendingWrite: "s240" a write of 240 sent, "e240" its echo decoded, "t" a
// temperature reply, "x134" an exception to function 134 (0x86), "c" a reply with a bad CRC, "p"
// a poll gone out, "z" the port closed. Says each verdict ("resend240", "confirmed240",
// "unconfirmed240") and "-" for a poll that calls for nothing.
QString play(const QString &events)
{
    const char *verdicts[] = {"-", "resend", "confirmed", "unconfirmed"};
    const QHash<QChar, Reply::Kind> replies = {{'e', Reply::Echo},
                                               {'t', Reply::Temperature},
                                               {'x', Reply::Exception},
                                               {'c', Reply::BadCrc}};
    PendingWrite write;
    QStringList said;
    for (const QString &event : events.split(' ')) {
        const QChar code = event[0];
        const int value = event.mid(1).toInt();
        PendingWrite::Verdict verdict;
        if (code == 's')
            write.sent(value);
        else if (code == 'z')
            write.clear();
        else if (code == 'p')
            verdict = write.afterPoll();
        else
            verdict = write.replied({replies.value(code), value, 0, 0});
        if (code == 'p' || verdict.kind != PendingWrite::Verdict::None)
            said << verdicts[verdict.kind] +
                        (verdict.kind ? QString::number(verdict.tenths) : QString());
    }
    return said.join(' ');
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
            "echo250/8 exception134/5");
        row("echo of settemp -10.0", "0106012cff9c0866", "echo-100/8");
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

    void pendingWrite_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("said");
        const auto row = [](const char *name, const char *events, const char *said) {
            QTest::newRow(name) << QString(events) << QString(said);
        };
        row("echo confirms the write", "s240 e240 t p", "confirmed240 -");
        row("a lost write goes again after the next poll", "s240 t p e240 t p",
            "resend240 confirmed240 -");
        row("a silent controller does not use up the resends", "s240 p p t p", "- - resend240");
        row("three resends, then given up once", "s240 t p t p t p t p t p",
            "resend240 resend240 resend240 unconfirmed240 -");
        row("an echo of another value confirms nothing", "s240 e250 p", "resend240");
        row("a bad CRC is no answer", "s240 c p", "-");
        row("a new write replaces the pending one and its count", "s240 t p s250 e240 t p t p e250",
            "resend240 resend250 resend250 confirmed250");
        row("a refused write is given up at once, a refused read is an answer",
            "s1500 x131 p s1500 x134 p", "resend1500 unconfirmed1500 -");
        row("a closed port forgets the write", "s240 t z t p", "-");
        row("an echo with no write pending", "e240 t p", "-");
    }
    // A write goes again until its echo comes, three times at most, each after a poll that the
    // controller answered.
    void pendingWrite()
    {
        QFETCH(QString, events);
        QTEST(play(events), "said");
    }
};

QTEST_GUILESS_MAIN(tst_replies)
#include "tst_replies.moc"

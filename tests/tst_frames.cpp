// The CRC and the request frames put on the wire for "settemp" and "readtemp".
#include "link/frames.h"

#include <QtTest>

#include <cfloat>
#include <limits>

using namespace chamber;

class tst_frames : public QObject
{
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void frames_data();
    void frames();
    void setpointRange();
};

void tst_frames::checksum_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("crc");

    QTest::newRow("check string 123456789")
        << QByteArray("123456789") << QByteArray::fromHex("374b");
    QTest::newRow("empty gives the initial value") << QByteArray() << QByteArray::fromHex("ffff");
    QTest::newRow("readtemp request")
        << QByteArray::fromHex("010300640001") << QByteArray::fromHex("c5d5");
    QTest::newRow("bytes above 7F are unsigned")
        << QByteArray::fromHex("010302ff9c") << QByteArray::fromHex("f9dd");
}

void tst_frames::checksum()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, crc);

    QCOMPARE(calccrc(message).toHex(' '), crc.toHex(' '));
}

void tst_frames::frames_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<double>("dataout");
    QTest::addColumn<QByteArray>("frame");

    const QByteArray setpoint250 = QByteArray::fromHex("0106012c00fac9bc");
    const QByteArray setpoint256 = QByteArray::fromHex("0106012c0100486f");
    const QByteArray setpoint0 = QByteArray::fromHex("0106012c000049ff");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();

    QTest::newRow("readtemp") << "readtemp" << 0.0 << QByteArray::fromHex("010300640001c5d5");
    QTest::newRow("readtemp mixed case")
        << "ReadTemp" << 0.0 << QByteArray::fromHex("010300640001c5d5");
    QTest::newRow("settemp 25.0 degrees") << "settemp" << 250.0 << setpoint250;
    QTest::newRow("settemp upper case") << "SETTEMP" << 250.0 << setpoint250;
    QTest::newRow("settemp 0") << "settemp" << 0.0 << setpoint0;
    QTest::newRow("settemp 256 high byte") << "settemp" << 256.0 << setpoint256;
    QTest::newRow("half rounds to even, up") << "settemp" << 255.5 << setpoint256;
    QTest::newRow("half rounds to even, down")
        << "settemp" << 254.5 << QByteArray::fromHex("0106012c00fec87f");
    QTest::newRow("negative in two's complement")
        << "settemp" << -100.0 << QByteArray::fromHex("0106012cff9c0866");
    QTest::newRow("65535.5 rounds to 65536, wraps to 0") << "settemp" << 65535.5 << setpoint0;
    QTest::newRow("only the low 16 bits") << "settemp" << 65536.0 + 250.0 << setpoint250;
    QTest::newRow("low 16 bits of a negative")
        << "settemp" << -65536.0 - 100.0 << QByteArray::fromHex("0106012cff9c0866");
    QTest::newRow("huge value keeps low bits 0") << "settemp" << 1e300 << setpoint0;
    QTest::newRow("NaN sends nothing") << "settemp" << nan << QByteArray();
    QTest::newRow("infinity sends nothing") << "settemp" << inf << QByteArray();
    QTest::newRow("empty word") << "" << 0.0 << QByteArray();
    QTest::newRow("blank before") << " readtemp" << 0.0 << QByteArray();
    QTest::newRow("blank after") << "settemp " << 250.0 << QByteArray();
    QTest::newRow("long s is not an s")
        << QString::fromUtf8("\u017Fettemp") << 250.0 << QByteArray();
}

void tst_frames::frames()
{
    QFETCH(QString, mode);
    QFETCH(double, dataout);
    QFETCH(QByteArray, frame);

    QCOMPARE(frameFor(mode, dataout).toHex(' '), frame.toHex(' '));
}

// The register is read back as signed: only what survives that round trip may be sent.
void tst_frames::setpointRange()
{
    for (const double fits : {0.0, 32767.0, 32767.4, -32768.0, -32768.5, 250.0})
        QVERIFY2(setpointFits(fits), qPrintable(QString::number(fits)));
    for (const double wraps :
         {32767.5, 32768.0, 40000.0, 65535.0, -32768.6, -32769.0, 1e300,
          std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        QVERIFY2(!setpointFits(wraps), qPrintable(QString::number(wraps)));
}

QTEST_GUILESS_MAIN(tst_frames)
#include "tst_frames.moc"

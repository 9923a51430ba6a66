// Reading the serial settings text: the fields that are accepted and the texts that are refused.
#include "link/portsettings.h"

#include <QTest>

using chamber::parsesettings;
using chamber::PortSettings;

class tst_portsettings : public QObject
{
    Q_OBJECT
private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
};

void tst_portsettings::accepted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("databits");
    QTest::addColumn<int>("stopbits");

    QTest::newRow("the line's own 9600,n,8,1")
        << "9600,n,8,1" << 9600 << int(PortSettings::None) << 8 << int(PortSettings::One);
    QTest::newRow("even parity, 7 bits, 2 stops")
        << "19200,e,7,2" << 19200 << int(PortSettings::Even) << 7 << int(PortSettings::Two);
    QTest::newRow("odd, upper case")
        << "4800,O,8,1" << 4800 << int(PortSettings::Odd) << 8 << int(PortSettings::One);
    QTest::newRow("mark, 5 bits, 1.5 stops")
        << "110,m,5,1.5" << 110 << int(PortSettings::Mark) << 5 << int(PortSettings::OneAndHalf);
    QTest::newRow("space, upper case, 6 bits")
        << "115200,S,6,1" << 115200 << int(PortSettings::Space) << 6 << int(PortSettings::One);
    QTest::newRow("blanks around every field")
        << " 9600 , N ,\t8 , 1 " << 9600 << int(PortSettings::None) << 8 << int(PortSettings::One);
    QTest::newRow("upper case parity N")
        << "9600,N,8,1" << 9600 << int(PortSettings::None) << 8 << int(PortSettings::One);
    QTest::newRow("baud 1") << "1,n,8,1" << 1 << int(PortSettings::None) << 8
                            << int(PortSettings::One);
}

void tst_portsettings::accepted()
{
    QFETCH(QString, text);
    const std::optional<PortSettings> parsed = parsesettings(text);
    QVERIFY(parsed.has_value());
    QTEST(parsed->baud, "baud");
    QTEST(int(parsed->parity), "parity");
    QTEST(parsed->databits, "databits");
    QTEST(int(parsed->stopbits), "stopbits");
}

void tst_portsettings::refused_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << "";
    QTest::newRow("only blanks") << "   ";
    QTest::newRow("three fields") << "9600,n,8";
    QTest::newRow("five fields") << "9600,n,8,1,0";
    QTest::newRow("trailing comma") << "9600,n,8,1,";
    QTest::newRow("empty baud") << ",n,8,1";
    QTest::newRow("empty stop bits") << "9600,n,8,";
    QTest::newRow("unknown parity x") << "9600,x,8,1";
    QTest::newRow("parity spelt out") << "9600,none,8,1";
    QTest::newRow("empty parity") << "9600,,8,1";
    QTest::newRow("baud not a number") << "abc,n,8,1";
    QTest::newRow("baud with a sign") << "+9600,n,8,1";
    QTest::newRow("negative baud") << "-9600,n,8,1";
    QTest::newRow("zero baud") << "0,n,8,1";
    QTest::newRow("baud with a fraction") << "9600.5,n,8,1";
    QTest::newRow("baud in hex") << "0x2580,n,8,1";
    QTest::newRow("baud past 32 bits") << "99999999999,n,8,1";
    QTest::newRow("blank inside baud") << "96 00,n,8,1";
    QTest::newRow("9 data bits") << "9600,n,9,1";
    QTest::newRow("4 data bits") << "9600,n,4,1";
    QTest::newRow("two-digit data bits") << "9600,n,08,1";
    QTest::newRow("3 stop bits") << "9600,n,8,3";
    QTest::newRow("0 stop bits") << "9600,n,8,0";
    QTest::newRow("stop bits 1.0") << "9600,n,8,1.0";
    QTest::newRow("stop bits 2.5") << "9600,n,8,2.5";
    QTest::newRow("semicolons") << "9600;n;8;1";
}

void tst_portsettings::refused()
{
    QFETCH(QString, text);
    QVERIFY2(!parsesettings(text).has_value(), qPrintable(text));
}

QTEST_GUILESS_MAIN(tst_portsettings)
#include "tst_portsettings.moc"

// Reading a field's leading number and writing it back with the patterns "0" and "0.0".
#include "util/numbertext.h"

#include <QtTest>

#include <cfloat>
#include <cmath>

using namespace chamber;

class tst_numbertext : public QObject
{
    Q_OBJECT
private slots:
    void reading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("second point ends the number") << "1.2.3" << 1.2;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("plus sign") << "+12.5" << 12.5;
        QTest::newRow("negative") << "-10.0" << -10.0;
        QTest::newRow("leading blank reads 0") << " 12" << 0.0;
        QTest::newRow("comma ends the number") << "12,5" << 12.0;
        QTest::newRow("no exponent") << "1e5" << 1.0;
        QTest::newRow("no infinity word") << "inf" << 0.0;
        QTest::newRow("non-ASCII digit is not a digit") << QString::fromUtf8("\u0663") << 0.0;
        QTest::newRow("beyond 15 digits") << "0.123456789012345678" << 0.123456789012345678;
        QTest::newRow("400 digits saturate") << "-" + QString(400, u'9') << -DBL_MAX;
        QTest::newRow("fraction too small for a double") << "0." + QString(400, u'0') + "1" << 0.0;
        QTest::newRow("negative zero reads plain zero") << "-0.0" << 0.0;
    }
    void reading()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        const double got = readnumber(text);
        // exact: QCOMPARE would accept any tiny value for 0 and a near miss elsewhere
        QVERIFY2(got == expected && std::signbit(got) == std::signbit(expected),
                 qPrintable(QString::number(got, 'g', 17)));
    }

    void writing_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0.15 is a half, not 0.1499..") << 0.15 << 1 << "0.2";
        QTest::newRow("2.5 whole") << 2.5 << 0 << "3";
        QTest::newRow("0.04 rounds to zero") << 0.04 << 1 << "0.0";
        QTest::newRow("carry through all digits") << 99.95 << 1 << "100.0";
        QTest::newRow("negative half away from zero") << -0.15 << 1 << "-0.2";
        QTest::newRow("rounded to zero, no minus") << -0.04 << 1 << "0.0";
        QTest::newRow("no grouping, no exponent") << 1e20 << 0 << "100000000000000000000";
        QTest::newRow("beyond 15 significant digits")
            << 123456789012345678.0 << 0 << "123456789012346000";
        QTest::newRow("largest double")
            << DBL_MAX << 1 << "179769313486232" + QString(294, u'0') + ".0";
        QTest::newRow("subnormal") << 5e-324 << 1 << "0.0";
        QTest::newRow("NaN") << qQNaN() << 1 << "0.0";
        QTest::newRow("infinity") << qInf() << 0 << "0";
    }
    void writing()
    {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QString, expected);
        QCOMPARE(writenumber(value, decimals), expected);
    }
};

QTEST_GUILESS_MAIN(tst_numbertext)
#include "tst_numbertext.moc"

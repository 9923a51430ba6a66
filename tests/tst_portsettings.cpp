// Reading the serial settings text: the forms that are accepted and the texts that are refused.
#include "link/portsettings.h"

#include <QTest>

using chamber::parseSettings;
using chamber::PortSettings;
using namespace Qt::StringLiterals;

class tst_portsettings : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

void tst_portsettings::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed"); // what was read, written plainly; empty: refused

    QTest::newRow("the line's own") << "9600,n,8,1" << u"9600,n,8,1"_s;
    QTest::newRow("even, 7 bits, 2 stops") << "19200,e,7,2" << u"19200,e,7,2"_s;
    QTest::newRow("upper case, blanks around") << " 4800 , O ,\t8 , 1 " << u"4800,o,8,1"_s;
    QTest::newRow("mark, 5 bits, 1.5 stops") << "110,m,5,1.5" << u"110,m,5,1.5"_s;
    QTest::newRow("space, 6 bits") << "115200,S,6,1" << u"115200,s,6,1"_s;
    // refused: wrong field counts, unknown or spelt-out parity, a baud that toInt() alone would
    // take or that overflows, data and stop bits out of range or written otherwise
    for (const char *text :
         {"", "9600,n,8", "9600,n,8,1,", "9600,x,8,1", "9600,none,8,1", "+9600,n,8,1", "0,n,8,1",
          "99999999999,n,8,1", "9600,n,9,1", "9600,n,8,3", "9600,n,8,1.0"})
        QTest::addRow("'%s'", text) << QString::fromLatin1(text) << QString();
}

void tst_portsettings::parse()
{
    QFETCH(QString, text);
    const std::optional<PortSettings> read = parseSettings(text);
    const char *stops[] = {"1", "1.5", "2"};
    QTEST(read ? QStringLiteral("%1,%2,%3,%4")
                     .arg(read->baud)
                     .arg(QChar(u"neoms"[read->parity]))
                     .arg(read->dataBits)
                     .arg(QLatin1String(stops[read->stopBits]))
               : QString(),
          "parsed");
}

QTEST_GUILESS_MAIN(tst_portsettings)
#include "tst_portsettings.moc"

// Profile files without a window: the example read and written back, and every rule of the format.
#include "util/profilefile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace chamber;

namespace {

QByteArray exampleText()
{
    QFile file(QStringLiteral(EXAMPLE_PROFILE));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_profilefile : public QObject
{
    Q_OBJECT
private slots:
    void example() // what the program itself writes for that profile
    {
        QString error;
        const std::optional<Profile> profile = parseProfile(exampleText(), error);
        QVERIFY2(profile, qPrintable(error));
        const Profile expected{
            {85, 25, 60, 25}, {600, 300, 600, 300}, {true, true, true, false}, 3};
        QVERIFY(*profile == expected);
        QCOMPARE(profileText(*profile), exampleText());
    }

    // A named pipe is refused without being opened: opening it would block the window.
    void pipe()
    {
        QTemporaryDir folder;
        const QString fifo = folder.filePath("pipe.profile");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QString error;
        QVERIFY(!readProfile(fifo, error));
        QCOMPARE(error, QStringLiteral("it is not a file"));
    }

    // Each row edits the example once; an empty error means the edited file is still good.
    void rules_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const char *from, const char *to, const char *error) {
            QTest::newRow(name) << QString::fromUtf8(from) << QString::fromUtf8(to)
                                << QString::fromUtf8(error);
        };
        row("setpoints as whole numbers", "85.0", "85", "");
        row("byte order mark", "{\n    \"format\"", "\xEF\xBB\xBF{\n    \"format\"", "");
        row("empty", "*", "", "the file is empty");
        row("syntax error names its line", "\"version\": 1,", "\"version\" 1,",
            "line 3: not valid JSON");
        row("a list, not an object", "*", "[1, 2]", "does not hold a JSON object");
        row("another format", "chamberctl-profile", "chamberctl-log", "not a chamberctl profile");
        row("newer version", "\"version\": 1", "\"version\": 2", "version 2 is not supported");
        row("unknown key", "\"cycles\": 3", "\"cycles\": 3, \"comment\": \"x\"",
            "unknown key \"comment\"");
        row("missing key", ",\n    \"cycles\": 3", "", "missing key \"cycles\"");
        row("unknown key in a point", "60.0, \"dwell_s\": 600}",
            "60.0, \"dwell_s\": 600, \"r\": 1}", "point 3: unknown key \"r\"");
        row("setpoint as text", "85.0", "\"85.0\"",
            "point 1: \"setpoint_c\" must be a number, not text");
        row("negative setpoint", "60.0", "-5.0", "point 3: \"setpoint_c\" must be 0 or more");
        row("dwell with a fraction", "\"dwell_s\": 600}", "\"dwell_s\": 600.5}",
            "point 1: \"dwell_s\" must be a whole number of seconds");
        row("three points", ",\n        {\"setpoint_c\": 60.0, \"dwell_s\": 600}", "",
            "\"points\" must be a list of 4 points, not 3");
        row("use_points with a number", "true, true, true, false", "true, true, 1, false",
            "\"use_points\" must be a list of 4 values");
        row("point 2 unused", "true, true, true, false", "true, false, true, false",
            "points 1 and 2 always run");
        row("point 4 without point 3", "true, true, true, false", "true, true, false, true",
            "point 4 runs only together with point 3");
        row("1000 cycles", "\"cycles\": 3", "\"cycles\": 1000", "from 0 to 999");
    }
    void rules()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, error);
        QString text = QString::fromUtf8(exampleText());
        if (from == "*") { // the whole file
            text = to;
        } else {
            QVERIFY2(text.contains(from), qPrintable(from));
            text.replace(from, to);
        }

        QString found;
        const std::optional<Profile> profile = parseProfile(text.toUtf8(), found);
        if (error.isEmpty())
            QVERIFY2(profile, qPrintable(found));
        else
            QVERIFY2(!profile && found.contains(error), qPrintable(found));
    }
};

QTEST_GUILESS_MAIN(tst_profilefile)
#include "tst_profilefile.moc"

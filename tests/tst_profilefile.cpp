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
        QVERIFY((*profile == Profile{{85, 25, 60, 25}, {600, 300, 600, 300}, {1, 1, 1, 0}, 3}));
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

    // Each row edits the example once ("*": the whole text); no error: the file is still good.
    void rules_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const char *from, const char *to, const char *error) {
            QTest::newRow(name) << QString::fromUtf8(from) << QString::fromUtf8(to) << error;
        };
        row("byte order mark", "{\n", "\xEF\xBB\xBF{\n", "");
        row("empty", "*", "", "the file is empty");
        row("syntax error names its line", R"("version": 1)", R"("version" 1)",
            "line 3: not valid");
        row("another format", "chamberctl-profile", "chamberctl-log", "not a chamberctl profile");
        row("newer version", R"("version": 1)", R"("version": 2)", "version 2 is not supported");
        row("unknown key", R"("cycles": 3)", R"("cycles": 3, "x": 1)", R"(unknown key "x")");
        row("missing key", ",\n    \"cycles\": 3", "", R"(missing key "cycles")");
        row("setpoint as text", "85.0", R"("85.0")", R"(point 1: "setpoint_c" must be a number)");
        row("dwell with a fraction", "600}", "600.5}", R"("dwell_s" must be a whole number)");
        row("three points", ",\n        {\"setpoint_c\": 60.0, \"dwell_s\": 600}", "",
            R"("points" must be a list of 4 points, not 3)");
        row("point 2 unused", "true, true, true", "true, false, true", "points 1 and 2 always run");
        row("point 4 without point 3", "true, false]", "false, true]",
            "point 4 runs only together with point 3");
        row("1000 cycles", R"("cycles": 3)", R"("cycles": 1000)", "from 0 to 999");
    }
    void rules()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, error);
        QString text = QString::fromUtf8(exampleText());
        QVERIFY2(from == "*" || text.contains(from), qPrintable(from));
        text = from == "*" ? to : text.replace(from, to);
        QString found;
        const std::optional<Profile> profile = parseProfile(text.toUtf8(), found);
        QVERIFY2(error.isEmpty() ? bool(profile) : !profile && found.contains(error),
                 qPrintable(found));
    }
};

QTEST_GUILESS_MAIN(tst_profilefile)
#include "tst_profilefile.moc"

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
        row("newer version", R"("version": 1)", R"("version": 3)", "version 3 is not supported");
        row("conditions need version 2", R"("cycles": 3)", R"("cycles": 3, "conditions": {})",
            R"(unknown key "conditions")");
        row("version 2 without conditions", R"("version": 1)", R"("version": 2)", "");
        // the example as version 2 with the conditions object
        const auto conditions = [](const char *name, const char *object, const char *error) {
            QString text = QString::fromUtf8(exampleText());
            text.replace(R"("version": 1)", R"("version": 2)");
            text.replace(R"("cycles": 3)", R"("cycles": 3, "conditions": )" + QString(object));
            QTest::newRow(name) << QString("*") << text << error;
        };
        conditions("every condition", R"({"tolerance_c": 0.25, "guaranteed_soak": true,
            "approach_limit_s": 3600, "deviation_delay_s": 0, "silence_limit_s": 30,
            "on_alarm": "end"})",
                   "");
        conditions("soak without a band", R"({"guaranteed_soak": true})",
                   R"("guaranteed_soak" needs "tolerance_c")");
        conditions("delay without a band", R"({"deviation_delay_s": 60})",
                   R"("deviation_delay_s" needs "tolerance_c")");
        conditions("no band", R"({"tolerance_c": 0})", R"("tolerance_c" must be above 0)");
        conditions("limit 0", R"({"approach_limit_s": 0})", "whole number of seconds from 1");
        conditions("limit with a fraction", R"({"silence_limit_s": 2.5})",
                   "whole number of seconds");
        conditions("other alarm action", R"({"on_alarm": "stop"})",
                   R"("on_alarm" must be "continue" or "end")");
        conditions("unknown condition", R"({"tolerance": 1})", R"(unknown key "tolerance")");
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
        if (!profile)
            return;
        // What the program writes reads back the same, and as version 1 without conditions,
        // so that older copies read it; the record's one-line form too.
        const QByteArray written = profileText(*profile);
        QCOMPARE(parseProfile(written, found), profile);
        QCOMPARE(written.contains(R"("version": 1)"), !profile->conditions.any());
        QCOMPARE(parseConditionsLine(conditionsLine(profile->conditions), found),
                 profile->conditions);
    }
};

QTEST_GUILESS_MAIN(tst_profilefile)
#include "tst_profilefile.moc"

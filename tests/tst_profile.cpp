// Profile files in the window: the menu and shortcuts, the file selection dialog, loading, saving.
#include "dialogs/z_selectfile.h"
#include "support/alertcloser.h"
#include "support/windowrig.h"

#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/resource.h>

using namespace chamber;

namespace {

const QStringList fieldNames{"setpoints(0)", "setpoints(1)", "setpoints(2)",
                             "setpoints(3)", "dwells(0)",    "dwells(1)",
                             "dwells(2)",    "dwells(3)",    "cycles(0)"};

const QByteArray goodFile = R"({"format": "chamberctl-profile", "version": 1,
    "points": [{"setpoint_c": 175.04, "dwell_s": 10}, {"setpoint_c": 175.05, "dwell_s": 0},
               {"setpoint_c": 0.15, "dwell_s": 3600}, {"setpoint_c": 25.25, "dwell_s": 1}],
    "use_points": [true, true, true, true], "cycles": 999})";

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// The window, a folder of its own, and an operator who answers the file selection dialog by
// typing name into filename and clicking "OK", or "Cancel" when name is empty.
struct Rig : WindowRig
{
    Rig()
    {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<Z_selectfile *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->windowHandle()->isExposed())
                return; // looked at again on the next poll
            ++dialogs;
            pattern = dialog->pattern();
            dialog->setPath(folder.path());
            dialog->filename->setPlainText(name);
            QTest::mouseClick(name.isEmpty() ? dialog->cancelbutton : dialog->okbutton,
                              Qt::LeftButton);
        });
        poll.start(10);
    }
    // The nine profile fields, then the two boxes of points 3 and 4 as 1 or 0.
    QString shown() const
    {
        QStringList values;
        for (const QString &name : fieldNames)
            values << text(name);
        return (values << QString::number(box("rampenable(0)")->isChecked())
                       << QString::number(box("rampenable(1)")->isChecked()))
            .join(' ');
    }
    void set(const QString &values)
    {
        for (int i = 0; i < fieldNames.size(); ++i)
            field(fieldNames[i])->setText(values.section(' ', i, i));
        box("rampenable(0)")->setChecked(values.section(' ', 9, 9) == "1");
        box("rampenable(1)")->setChecked(values.section(' ', 10, 10) == "1");
    }
    QAction *entry(const QString &caption)
    {
        menu.clear();
        window.fillContextMenu(menu);
        for (QAction *action : menu.actions())
            if (action->text() == caption)
                return action;
        qFatal("no menu entry %s", qPrintable(caption));
    }
    // The window takes the keyboard back from the dialog that had it, as the desktop gives it.
    void shortcut(Qt::Key key)
    {
        window.windowHandle()->requestActivate();
        if (!QTest::qWaitForWindowActive(&window))
            qFatal("the window never became active again");
        QTest::keyClick(&window, key, Qt::ControlModifier);
    }

    QTemporaryDir folder;
    QString name;
    int dialogs = 0;
    QString pattern;
    QTimer poll;
    QMenu menu;
    AlertCloser alerts;
};

} // namespace

class tst_profile : public QObject
{
    Q_OBJECT
private slots:
    // Saved from the menu under a name without suffix, tidied first; opened again with Ctrl+O;
    // "Cancel" does nothing; an existing file is replaced only once the operator says so.
    void roundTrip()
    {
        Rig rig;
        rig.set("80 180 30.25  12.5 0 7 9 12 1 1");
        const QString tidied = "80.0 175.0 30.3 0.0 13 0 7 9 12 1 1";
        rig.name = "soak";
        rig.entry("Save profile…")->trigger();
        QCOMPARE(rig.pattern, QStringLiteral("*.profile"));
        QCOMPARE(rig.shown(), tidied);
        const QString saved = rig.folder.filePath("soak.profile");

        rig.set("1 2 3 4 5 6 7 8 9 0 0");
        rig.name = "soak.profile";
        rig.shortcut(Qt::Key_O);
        QCOMPARE(rig.shown(), tidied);
        rig.name.clear();
        rig.entry("Open profile…")->trigger();
        QCOMPARE(rig.dialogs, 3);
        QCOMPARE(rig.shown(), tidied);

        const QByteArray before = contents(saved);
        rig.field("cycles(0)")->setText("3");
        rig.name = "soak.profile";
        rig.alerts.button = 1;
        rig.shortcut(Qt::Key_S);
        QCOMPARE(contents(saved), before);
        rig.alerts.button = 0;
        rig.shortcut(Qt::Key_S);
        QVERIFY(contents(saved).contains("\"cycles\": 3\n"));
        QCOMPARE(rig.alerts.titles(), QStringList({"Save profile", "Save profile"}));
    }

    // A bad file changes no field and says once what is wrong where; a good one sets each field
    // as typing would.
    void loading()
    {
        Rig rig;
        const QString path = rig.folder.filePath("test.profile");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write(QByteArray(goodFile).replace("25.25", "\"25.25\"")));
        file.close();
        const QString before = rig.shown();
        QVERIFY(!rig.window.loadProfile(path));
        QCOMPARE(rig.shown(), before);
        QCOMPARE(rig.alerts.titles(), QStringList{"Profile error"});
        QVERIFY2(rig.alerts.seen[0].text.contains(path) &&
                     rig.alerts.seen[0].text.contains("point 4: \"setpoint_c\""),
                 qPrintable(rig.alerts.seen[0].text));

        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(goodFile));
        file.close();
        QVERIFY(rig.window.loadProfile(path));
        QCOMPARE(rig.shown(), "175.0 175.0 0.2 25.3 10 0 3600 1 999 1 1");
        QCOMPARE(rig.alerts.seen.size(), 1);
    }

    // A save that fails half-way (the file size limit here, as a full disk) keeps the earlier
    // file whole and leaves nothing else behind.
    void failedSave()
    {
        Rig rig;
        const QString path = rig.folder.filePath("keep.profile");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(goodFile));
        file.close();
        rig.name = "keep.profile";
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit small{64, limit.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        rig.shortcut(Qt::Key_S);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);

        QCOMPARE(rig.alerts.titles(), QStringList({"Save profile", "Profile error"}));
        QVERIFY2(rig.alerts.seen[1].text.contains(path), qPrintable(rig.alerts.seen[1].text));
        QCOMPARE(contents(path), goodFile);
        QCOMPARE(QDir(rig.folder.path()).entryList(QDir::Files), QStringList{"keep.profile"});
    }

    // A run holds the profile: neither entry is offered and neither shortcut opens the dialog.
    void lockedByRun()
    {
        Rig rig;
        rig.ports()->setCurrentIndex(1);
        for (bool on : {true, false}) {
            rig.click("cyclerun");
            QCOMPARE(rig.entry("Open profile…")->isEnabled(), !on);
            QCOMPARE(rig.entry("Save profile…")->isEnabled(), !on);
        }
        rig.click("cyclerun");
        rig.shortcut(Qt::Key_O);
        rig.shortcut(Qt::Key_S);
        QCOMPARE(rig.dialogs, 0);
    }
};

QTEST_MAIN(tst_profile)
#include "tst_profile.moc"

// Profile files in the window: the menu and shortcuts, the file selection dialog, loading, saving.
#include "dialogs/z_selectfile.h"
#include "support/windowrig.h"

#include <csignal>

#include <sys/resource.h>

using namespace chamber;

namespace {

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
    // The eight points' fields and the cycles to run, then the boxes of points 3 and 4 as 1 or 0.
    QString shown() const
    {
        QStringList values;
        for (const QString name : {"setpoints(%1)", "dwells(%1)"})
            for (int i = 0; i < 4; ++i)
                values << text(name.arg(i));
        values << text("cycles(0)") << QString::number(box("rampenable(0)")->isChecked())
               << QString::number(box("rampenable(1)")->isChecked());
        return values.join(' ');
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
};

} // namespace

class tst_profile : public QObject
{
    Q_OBJECT
private slots:
    // Saved from the menu under a name without suffix, tidied first; opened again with Ctrl+O;
    // "Cancel" does nothing. An existing file is replaced only once the operator says so, and a
    // save that fails half-way (the file size limit here, as a full disk) keeps it whole and
    // leaves nothing else behind.
    void roundTrip()
    {
        Rig rig;
        rig.field("setpoints(1)")->setText("180");
        rig.field("dwells(2)")->setText("12.5");
        rig.box("rampenable(0)")->setChecked(true);
        const QString tidied = "75.0 175.0 35.0 25.0 5 5 13 5 1 1 0";
        rig.name = "soak";
        rig.entry("Save profile…")->trigger();
        QCOMPARE(rig.pattern, QStringLiteral("*.profile"));
        QCOMPARE(rig.shown(), tidied);
        const QString saved = rig.folder.filePath("soak.profile");

        rig.field("setpoints(0)")->setText("1");
        rig.box("rampenable(0)")->setChecked(false);
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
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit small{64, limit.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        rig.shortcut(Qt::Key_S);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        QCOMPARE(contents(saved), before);
        QCOMPARE(QDir(rig.folder.path()).entryList(QDir::Files), QStringList{"soak.profile"});
        rig.shortcut(Qt::Key_S);
        QVERIFY(contents(saved).contains("\"cycles\": 3\n"));
        QCOMPARE(rig.alerts.titles(),
                 QStringList({"Save profile", "Save profile", "Profile error", "Save profile"}));
        QVERIFY2(rig.alerts.seen[2].text.contains(saved), qPrintable(rig.alerts.seen[2].text));
    }

    // A file that can't be read changes no field and says so once, naming it; a good one sets
    // each field as typing would. A run holds the profile: no file is loaded, neither entry is
    // offered and neither shortcut opens the dialog.
    void loading()
    {
        Rig rig;
        const QString path = rig.folder.filePath("test.profile");
        const QString before = rig.shown();
        QVERIFY(!rig.window.loadProfile(path));
        QCOMPARE(rig.shown(), before);
        QCOMPARE(rig.alerts.titles(), QStringList{"Profile error"});
        QVERIFY2(rig.alerts.seen[0].text.contains(path), qPrintable(rig.alerts.seen[0].text));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(goodFile));
        file.close();
        QVERIFY(rig.window.loadProfile(path));
        QCOMPARE(rig.shown(), "175.0 175.0 0.2 25.3 10 0 3600 1 999 1 1");

        rig.ports()->setCurrentIndex(1);
        for (bool on : {true, false}) {
            rig.click("cyclerun");
            QCOMPARE(rig.entry("Open profile…")->isEnabled(), !on);
            QCOMPARE(rig.entry("Save profile…")->isEnabled(), !on);
        }
        rig.click("cyclerun");
        rig.field("cycles(0)")->setText("1");
        QVERIFY(!rig.window.loadProfile(path));
        rig.shortcut(Qt::Key_O);
        rig.shortcut(Qt::Key_S);
        QCOMPARE(rig.dialogs, 0);
        QCOMPARE(rig.text("cycles(0)"), "1");
        QCOMPARE(rig.alerts.seen.size(), 1);
    }
};

QTEST_MAIN(tst_profile)
#include "tst_profile.moc"

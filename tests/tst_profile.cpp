// Profile files in the window: the menu and shortcuts, the file selection dialog, loading, saving.
#include "dialogs/z_selectfile.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/resource.h>

using namespace chamber;

namespace {

// Answers the file selection dialog as an operator would: moves it to folder, then types name,
// or double-clicks it in the file list when pick is set, and presses "OK"; with no name it
// presses "Cancel".
class FilePicker : public QObject
{
public:
    explicit FilePicker(const QString &folder)
    {
        connect(&poll, &QTimer::timeout, this, [this, folder] {
            auto *dialog = qobject_cast<Z_selectfile *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible() || !dialog->windowHandle()->isExposed())
                return; // looked at again on the next poll
            ++shown;
            pattern = dialog->pattern();
            dialog->setpath(folder);
            if (name.isEmpty()) {
                QTest::mouseClick(dialog->cancelbutton, Qt::LeftButton);
                return;
            }
            const QList<QListWidgetItem *> found =
                dialog->filelist->findItems(name, Qt::MatchExactly);
            if (pick && !found.isEmpty()) {
                const QPoint at = dialog->filelist->viewport()->mapTo(
                    dialog, dialog->filelist->visualItemRect(found.first()).center());
                QTest::mouseDClick(dialog->windowHandle(), Qt::LeftButton, {}, at);
            } else {
                dialog->filename->setPlainText(name);
            }
            QTest::mouseClick(dialog->okbutton, Qt::LeftButton);
        });
        poll.start(10);
    }

    QString name;
    bool pick = false;
    int shown = 0;
    QString pattern;

private:
    QTimer poll;
};

const QStringList profileFieldNames{"setpoints(0)", "setpoints(1)", "setpoints(2)",
                                    "setpoints(3)", "dwells(0)",    "dwells(1)",
                                    "dwells(2)",    "dwells(3)",    "cycles(0)"};

// The profile as the window shows it: nine field texts, then the two rampenable boxes.
QStringList shownProfile(const QWidget &window)
{
    QStringList shown;
    for (const QString &name : profileFieldNames)
        shown << control<QLineEdit>(window, name)->text();
    for (const char *box : {"rampenable(0)", "rampenable(1)"})
        shown << (control<QCheckBox>(window, box)->isChecked() ? "ticked" : "clear");
    return shown;
}

void setProfile(const QWidget &window, const QStringList &values)
{
    for (int i = 0; i < profileFieldNames.size(); ++i)
        control<QLineEdit>(window, profileFieldNames[i])->setText(values[i]);
    control<QCheckBox>(window, "rampenable(0)")->setChecked(values[9] == "ticked");
    control<QCheckBox>(window, "rampenable(1)")->setChecked(values[10] == "ticked");
}

QAction *menuEntry(chamber::main &window, QMenu &menu, const QString &text)
{
    menu.clear();
    window.fillContextMenu(menu);
    for (QAction *action : menu.actions())
        if (action->text() == text)
            return action;
    qFatal("no menu entry %s", qPrintable(text));
    return nullptr;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

const QByteArray goodFile = R"({
    "format": "chamberctl-profile", "version": 1,
    "points": [{"setpoint_c": 175.04, "dwell_s": 10}, {"setpoint_c": 175.05, "dwell_s": 0},
               {"setpoint_c": 0.15, "dwell_s": 3600}, {"setpoint_c": 25.25, "dwell_s": 1}],
    "use_points": [true, true, true, true], "cycles": 999
})";

} // namespace

class tst_profile : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
        link.present = {"COM1"};
        window = std::make_unique<chamber::main>(&link);
        window->Form_Load();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() { window.reset(); }

    // Saved through the menu with a typed name, opened again with Ctrl+O and a double-click.
    void roundTrip()
    {
        FilePicker picker(folder->path());
        AlertCloser alerts;
        setProfile(*window,
                   {"80", "180", "30.25", "", "12.5", "0", "7", "9", "12", "ticked", "ticked"});
        const QStringList tidied{"80.0", "175.0", "30.3", "0.0",    "13",    "0",
                                 "7",    "9",     "12",   "ticked", "ticked"};
        QMenu menu;
        picker.name = "soak";
        menuEntry(*window, menu, "Save profile…")->trigger();
        QCOMPARE(picker.pattern, QStringLiteral("*.profile"));
        QCOMPARE(shownProfile(*window), tidied); // saving tidies the fields first
        const QString saved = QDir(folder->path()).filePath("soak.profile");
        QVERIFY(QFileInfo(saved).isFile());

        setProfile(*window, {"1", "2", "3", "4", "5", "6", "7", "8", "9", "clear", "clear"});
        picker.pick = true;
        picker.name = "soak.profile";
        shortcut(Qt::Key_O);
        QCOMPARE(shownProfile(*window), tidied);

        // Cancel in the dialog does nothing at all.
        picker.name.clear();
        menuEntry(*window, menu, "Open profile…")->trigger();
        QCOMPARE(picker.shown, 3);
        QCOMPARE(shownProfile(*window), tidied);

        // An existing file is replaced only once the operator says so.
        const QByteArray before = contents(saved);
        control<QLineEdit>(*window, "cycles(0)")->setText("3");
        picker.name = "soak.profile";
        alerts.button = 1;
        shortcut(Qt::Key_S);
        QCOMPARE(contents(saved), before);
        alerts.button = 0;
        shortcut(Qt::Key_S);
        QVERIFY(contents(saved).contains("\"cycles\": 3\n"));
        QCOMPARE(alerts.titles(), QStringList({"Save profile", "Save profile"}));
    }

    void loading_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("fault"); // empty: loads
        const auto bad = [](const char *name, QByteArray text, const char *fault) {
            QTest::newRow(name) << text << QString::fromUtf8(fault);
        };
        QTest::newRow("values taken as if typed") << goodFile << QString();
        bad("no such file", QByteArray(), "cannot be read");
        bad("not JSON", goodFile.left(60), "not valid JSON");
        bad("wrong format", QByteArray(goodFile).replace("chamberctl-profile", "other"),
            "not a chamberctl profile");
        bad("wrong version", QByteArray(goodFile).replace("\"version\": 1", "\"version\": 3"),
            "version 3");
        bad("unknown key", QByteArray(goodFile).replace("\"cycles\"", "\"cycle\""),
            "unknown key \"cycle\"");
        bad("missing key", QByteArray(goodFile).replace(", \"dwell_s\": 1}", "}"),
            "point 4: missing key \"dwell_s\"");
        bad("wrong type in the last point", QByteArray(goodFile).replace("25.25", "\"25.25\""),
            "point 4: \"setpoint_c\" must be a number");
    }
    // A good file sets every field as typing would; a bad one changes none and says why, once.
    void loading()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, fault);
        AlertCloser alerts;
        const QString path = QDir(folder->path()).filePath("test.profile");
        QFile::remove(path);
        if (!text.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        }
        const QStringList before = shownProfile(*window);
        QCOMPARE(window->loadProfile(path), fault.isEmpty());
        if (fault.isEmpty()) {
            QCOMPARE(shownProfile(*window), QStringList({"175.0", "175.0", "0.2", "25.3", "10", "0",
                                                         "3600", "1", "999", "ticked", "ticked"}));
            QCOMPARE(alerts.seen.size(), 0);
            return;
        }
        QCOMPARE(shownProfile(*window), before);
        QCOMPARE(alerts.titles(), QStringList{"Profile error"});
        QVERIFY2(alerts.seen[0].text.contains(path) && alerts.seen[0].text.contains(fault),
                 qPrintable(alerts.seen[0].text));
    }

    // A save that fails half-way (here: the file size limit, as a full disk would) keeps the
    // earlier file whole and leaves nothing else behind.
    void failedSave()
    {
        FilePicker picker(folder->path());
        AlertCloser alerts;
        const QString path = QDir(folder->path()).filePath("keep.profile");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(goodFile));
        }
        picker.name = "keep.profile";
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit small{64, limit.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN); // the write then fails with EFBIG instead
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        shortcut(Qt::Key_S);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);

        QCOMPARE(alerts.titles(), QStringList({"Save profile", "Profile error"}));
        QVERIFY2(alerts.seen[1].text.contains(path), qPrintable(alerts.seen[1].text));
        QCOMPARE(contents(path), goodFile);
        QCOMPARE(QDir(folder->path()).entryList(QDir::Files), QStringList{"keep.profile"});
    }

    // A run holds the profile: neither entry is offered and neither shortcut opens the dialog.
    void lockedByRun()
    {
        FilePicker picker(folder->path());
        control<QComboBox>(*window, "portselect")->setCurrentIndex(1);
        QCheckBox *run = control<QCheckBox>(*window, "cyclerun");
        run->click();
        QVERIFY(run->isChecked());
        QMenu menu;
        QVERIFY(!menuEntry(*window, menu, "Open profile…")->isEnabled());
        QVERIFY(!menuEntry(*window, menu, "Save profile…")->isEnabled());
        shortcut(Qt::Key_O);
        shortcut(Qt::Key_S);
        QCOMPARE(picker.shown, 0);

        run->click();
        QVERIFY(menuEntry(*window, menu, "Open profile…")->isEnabled());
        QVERIFY(menuEntry(*window, menu, "Save profile…")->isEnabled());
    }

private:
    // The window takes the key back from the dialog that had it, as the desktop would.
    void shortcut(Qt::Key key)
    {
        window->windowHandle()->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), key, Qt::ControlModifier);
    }

    std::unique_ptr<QTemporaryDir> folder; // a new one for each test
    FakeSerialLink link;
    std::unique_ptr<chamber::main> window;
};

QTEST_MAIN(tst_profile)
#include "tst_profile.moc"

// Profile files in the window: menu and shortcuts, the file selection dialog, loading and saving.
#include "dialogs/z_selectfile.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/resource.h>

using namespace chamber;

namespace {

// Answers the file selection dialog as an operator would: types name into filename, then "OK";
// with no name, "Cancel".
class FilePicker : public QObject
{
public:
    explicit FilePicker(const QString &folder)
    {
        connect(&poll, &QTimer::timeout, this, [this, folder] {
            auto *dialog = qobject_cast<Z_selectfile *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->windowHandle()->isExposed())
                return; // looked at again on the next poll
            ++shown;
            pattern = dialog->pattern();
            dialog->setPath(folder);
            dialog->filename->setPlainText(name);
            QTest::mouseClick(name.isEmpty() ? dialog->cancelbutton : dialog->okbutton,
                              Qt::LeftButton);
        });
        poll.start(10);
    }
    QString name;
    int shown = 0;
    QString pattern;

private:
    QTimer poll;
};

const QStringList fieldNames{"setpoints(0)", "setpoints(1)", "setpoints(2)",
                             "setpoints(3)", "dwells(0)",    "dwells(1)",
                             "dwells(2)",    "dwells(3)",    "cycles(0)"};

// The profile as the window shows it: nine field texts, then the two rampenable boxes as 1 or 0.
QStringList shownProfile(const QWidget &window)
{
    QStringList shown;
    for (const QString &name : fieldNames)
        shown << control<QLineEdit>(window, name)->text();
    for (const char *name : {"rampenable(0)", "rampenable(1)"})
        shown << QString::number(control<QCheckBox>(window, name)->isChecked());
    return shown;
}

void setProfile(const QWidget &window, const QStringList &values)
{
    for (int i = 0; i < fieldNames.size(); ++i)
        control<QLineEdit>(window, fieldNames[i])->setText(values[i]);
    control<QCheckBox>(window, "rampenable(0)")->setChecked(values[9] == "1");
    control<QCheckBox>(window, "rampenable(1)")->setChecked(values[10] == "1");
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

const QByteArray goodFile = R"({"format": "chamberctl-profile", "version": 1,
    "points": [{"setpoint_c": 175.04, "dwell_s": 10}, {"setpoint_c": 175.05, "dwell_s": 0},
               {"setpoint_c": 0.15, "dwell_s": 3600}, {"setpoint_c": 25.25, "dwell_s": 1}],
    "use_points": [true, true, true, true], "cycles": 999})";

} // namespace

class tst_profile : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        link.present = {"COM1"};
        window = std::make_unique<chamber::main>(&link);
        window->Form_Load();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    // Saved from the menu under a name without suffix, opened again with Ctrl+O.
    void roundTrip()
    {
        FilePicker picker(folder->path());
        AlertCloser alerts;
        setProfile(*window, {"80", "180", "30.25", "", "12.5", "0", "7", "9", "12", "1", "1"});
        const QStringList tidied{"80.0", "175.0", "30.3", "0.0", "13", "0",
                                 "7",    "9",     "12",   "1",   "1"};
        picker.name = "soak";
        entry("Save profile…")->trigger();
        QCOMPARE(picker.pattern, QStringLiteral("*.profile"));
        QCOMPARE(shownProfile(*window), tidied); // saving tidies the fields first
        const QString saved = folder->filePath("soak.profile");

        setProfile(*window, {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "0"});
        picker.name = "soak.profile";
        shortcut(Qt::Key_O);
        QCOMPARE(shownProfile(*window), tidied);
        picker.name.clear(); // "Cancel" does nothing at all
        entry("Open profile…")->trigger();
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
        QTest::addColumn<QByteArray>("text"); // null: no file
        QTest::addColumn<QString>("fault");   // empty: loads
        QTest::newRow("values taken as if typed") << goodFile << QString();
        QTest::newRow("no such file") << QByteArray() << "cannot be read";
        QTest::newRow("a fault in the last point")
            << QByteArray(goodFile).replace("25.25", "\"25.25\"") << "point 4: \"setpoint_c\"";
    }
    // A good file sets each field as typing would; a bad one changes none and says why, once.
    void loading()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, fault);
        AlertCloser alerts;
        const QString path = folder->filePath("test.profile");
        QFile file(path);
        QVERIFY(text.isNull() || (file.open(QIODevice::WriteOnly) && file.write(text)));
        file.close();
        const QStringList before = shownProfile(*window);
        QCOMPARE(window->loadProfile(path), fault.isEmpty());
        if (fault.isEmpty()) {
            QCOMPARE(shownProfile(*window), QStringList({"175.0", "175.0", "0.2", "25.3", "10", "0",
                                                         "3600", "1", "999", "1", "1"}));
            QCOMPARE(alerts.seen.size(), 0);
        } else {
            QCOMPARE(shownProfile(*window), before);
            QCOMPARE(alerts.titles(), QStringList{"Profile error"});
            QVERIFY2(alerts.seen[0].text.contains(path) && alerts.seen[0].text.contains(fault),
                     qPrintable(alerts.seen[0].text));
        }
    }

    // A save that fails half-way (the file size limit here, as a full disk) keeps the earlier
    // file whole and leaves nothing else behind.
    void failedSave()
    {
        FilePicker picker(folder->path());
        AlertCloser alerts;
        const QString path = folder->filePath("keep.profile");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(goodFile));
        file.close();
        picker.name = "keep.profile";
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit small{64, limit.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
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
        for (bool on : {true, false}) {
            run->click();
            QCOMPARE(run->isChecked(), on);
            QCOMPARE(entry("Open profile…")->isEnabled(), !on);
            QCOMPARE(entry("Save profile…")->isEnabled(), !on);
        }
        run->click();
        shortcut(Qt::Key_O);
        shortcut(Qt::Key_S);
        QCOMPARE(picker.shown, 0);
    }

private:
    QAction *entry(const QString &text)
    {
        menu.clear();
        window->fillContextMenu(menu);
        for (QAction *action : menu.actions())
            if (action->text() == text)
                return action;
        qFatal("no menu entry %s", qPrintable(text));
        return nullptr;
    }
    // The window takes the keyboard back from the dialog that had it, as the desktop gives it.
    void shortcut(Qt::Key key)
    {
        window->windowHandle()->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), key, Qt::ControlModifier);
    }

    std::unique_ptr<QTemporaryDir> folder; // a new one for each test
    FakeSerialLink link;
    std::unique_ptr<chamber::main> window;
    QMenu menu;
};

QTEST_MAIN(tst_profile)
#include "tst_profile.moc"

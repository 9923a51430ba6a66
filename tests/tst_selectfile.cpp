// Tests of the file selection dialog on a folder of its own: listing, pattern, choice, folders.
#include "dialogs/z_selectfile.h"
#include "util/basicutilities.h"
#include "util/design.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace chamber;

namespace {

QStringList texts(const QListWidget *list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result << list->item(i)->text();
    return result;
}

QListWidgetItem *entry(QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

// Mouse input goes in through the window, as the platform delivers it, so that a second press
// in time becomes a double-click.
QPoint windowpoint(QListWidget *list, QListWidgetItem *item)
{
    return list->viewport()->mapTo(list->window(), list->visualItemRect(item).center());
}

void click(QListWidget *list, QListWidgetItem *item, Qt::KeyboardModifiers modifiers = {})
{
    QTest::mouseClick(list->window()->windowHandle(), Qt::LeftButton, modifiers,
                      windowpoint(list, item));
}

void dclick(QListWidget *list, QListWidgetItem *item, Qt::KeyboardModifiers modifiers = {})
{
    QTest::mouseDClick(list->window()->windowHandle(), Qt::LeftButton, modifiers,
                       windowpoint(list, item));
}

// The next control in tab order, passing over what never takes the focus.
QWidget *nexttab(QWidget *widget)
{
    QWidget *next = widget->nextInFocusChain();
    while (next != widget && next->focusPolicy() == Qt::NoFocus)
        next = next->nextInFocusChain();
    return next;
}

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

// Runs the dialog modally, as a caller would, with act running inside it once it is shown.
int runmodal(Z_selectfile *dialog, const std::function<void()> &act)
{
    QTimer::singleShot(0, dialog, [dialog, act] {
        if (QApplication::activeModalWidget() != dialog) {
            dialog->done(-1);
            return;
        }
        act();
        // whatever act did, the test must not hang on an open dialog
        if (dialog->isVisible())
            QTimer::singleShot(0, dialog, [dialog] { dialog->done(-2); });
    });
    return dialog->exec();
}

} // namespace

class tst_selectfile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void listing();
    void typingthepattern();
    void doubleclick();
    void cancelandclose();
    void changingfolder();
    void unreadablefolder_data();
    void unreadablefolder();
    void sharedinstance();
    void layout();

private:
    QTemporaryDir tmp;
    const QStringList allfiles{QStringLiteral("alpha.txt"), QStringLiteral("beta.txt"),
                               QStringLiteral("data.csv"), QStringLiteral("Gamma.TXT"),
                               QStringLiteral("notes")};
    const QStringList txtfiles{QStringLiteral("alpha.txt"), QStringLiteral("beta.txt"),
                               QStringLiteral("Gamma.TXT")};
};

void tst_selectfile::init()
{
    QVERIFY(tmp.isValid());
    const QDir dir(tmp.path());
    for (const QString &name : allfiles)
        QVERIFY(touch(dir.filePath(name)));
    QVERIFY(touch(dir.filePath(QStringLiteral(".hidden"))));
    QVERIFY(dir.mkpath(QStringLiteral("sub/deeper")));
    QVERIFY(dir.mkpath(QStringLiteral("Another")));
    QVERIFY(touch(dir.filePath(QStringLiteral("sub/inner.txt"))));
    QVERIFY(touch(dir.filePath(QStringLiteral("sub/inner.log"))));
}

void tst_selectfile::cleanup()
{
    QDir dir(tmp.path());
    QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const QString &name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QFileInfo info(dir.filePath(name));
        if (info.isDir())
            QDir(info.filePath()).removeRecursively();
        else
            dir.remove(name);
    }
    Z_selectfile::release();
}

void tst_selectfile::listing()
{
    Z_selectfile dialog;
    QCOMPARE(dialog.pattern(), QStringLiteral("*"));
    QVERIFY(dialog.setpath(tmp.path()));
    QCOMPARE(dialog.path(), QDir(tmp.path()).absolutePath());

    // hidden files stay out; names sort without regard to case
    QCOMPARE(texts(dialog.filelist), allfiles);
    QCOMPARE(texts(dialog.dirlist),
             QStringList({QDir::toNativeSeparators(QDir(tmp.path()).absolutePath()),
                          QStringLiteral(".."), QStringLiteral("Another"), QStringLiteral("sub")}));

    dialog.setpattern(QStringLiteral("*.txt"));
    QCOMPARE(texts(dialog.filelist), txtfiles);
    dialog.setpattern(QStringLiteral("*.csv;notes"));
    QCOMPARE(texts(dialog.filelist),
             QStringList({QStringLiteral("data.csv"), QStringLiteral("notes")}));
    dialog.setpattern(QStringLiteral("*.none"));
    QCOMPARE(dialog.filelist->count(), 0);
    QCOMPARE(dialog.filelist->selectionMode(), QAbstractItemView::ExtendedSelection);
}

void tst_selectfile::typingthepattern()
{
    Z_selectfile dialog;
    QVERIFY(dialog.setpath(tmp.path()));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.filemask->text(), QStringLiteral("*"));

    dialog.filemask->setFocus();
    dialog.filemask->selectAll();
    QTest::keyClick(dialog.filemask, Qt::Key_Backspace);
    QCOMPARE(dialog.pattern(), QString());
    QCOMPARE(texts(dialog.filelist), allfiles);

    const QList<std::pair<QChar, QStringList>> steps{
        {QLatin1Char('*'), allfiles}, {QLatin1Char('.'), {}},       {QLatin1Char('t'), {}},
        {QLatin1Char('x'), {}},       {QLatin1Char('t'), txtfiles},
    };
    for (const auto &[key, expected] : steps) {
        QTest::keyClick(dialog.filemask, key.toLatin1());
        QCOMPARE(texts(dialog.filelist), expected);
        QCOMPARE(dialog.pattern(), dialog.filemask->text());
    }
    QTest::keyClick(dialog.filemask, Qt::Key_Backspace);
    QCOMPARE(dialog.pattern(), QStringLiteral("*.tx"));
    QCOMPARE(dialog.filelist->count(), 0);
}

void tst_selectfile::doubleclick()
{
    Z_selectfile dialog;
    QVERIFY(dialog.setpath(tmp.path()));
    dialog.setpattern(QStringLiteral("*.txt"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QListWidgetItem *beta = entry(dialog.filelist, QStringLiteral("beta.txt"));
    QVERIFY(beta);
    dclick(dialog.filelist, beta);
    QCOMPARE(dialog.filename->toPlainText(), QStringLiteral("beta.txt"));
    QCOMPARE(dialog.filecount->text(), QStringLiteral("1"));

    // a range picked with Shift, double-clicked at its end: the names in list order, one a line
    QListWidgetItem *alpha = entry(dialog.filelist, QStringLiteral("alpha.txt"));
    QListWidgetItem *gamma = entry(dialog.filelist, QStringLiteral("Gamma.TXT"));
    click(dialog.filelist, alpha);
    dclick(dialog.filelist, gamma, Qt::ShiftModifier);
    QCOMPARE(dialog.filelist->selectedItems().size(), 3);
    QCOMPARE(dialog.filename->toPlainText(), QStringLiteral("alpha.txt\nbeta.txt\nGamma.TXT"));
    QCOMPARE(dialog.filename->document()->blockCount(), 3);
    QCOMPARE(dialog.filecount->text(), QStringLiteral("3"));

    // picked out of order with Ctrl, still collected in list order
    dialog.setpattern(QStringLiteral("*"));
    click(dialog.filelist, entry(dialog.filelist, QStringLiteral("notes")));
    click(dialog.filelist, entry(dialog.filelist, QStringLiteral("alpha.txt")),
          Qt::ControlModifier);
    dclick(dialog.filelist, entry(dialog.filelist, QStringLiteral("data.csv")),
           Qt::ControlModifier);
    QCOMPARE(dialog.filename->toPlainText(), QStringLiteral("alpha.txt\ndata.csv\nnotes"));
    QCOMPARE(dialog.filecount->text(), QStringLiteral("3"));

    // OK hides the dialog and keeps the choice for the caller
    QTest::mouseClick(dialog.okbutton, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.filename->toPlainText(), QStringLiteral("alpha.txt\ndata.csv\nnotes"));
}

void tst_selectfile::cancelandclose()
{
    Z_selectfile dialog;
    QVERIFY(dialog.setpath(tmp.path()));

    auto pickbeta = [&dialog] {
        QListWidgetItem *beta = entry(dialog.filelist, QStringLiteral("beta.txt"));
        dclick(dialog.filelist, beta);
    };

    // OK: the caller reads the name after exec() returns
    QCOMPARE(runmodal(&dialog,
                      [&] {
                          pickbeta();
                          QTest::mouseClick(dialog.okbutton, Qt::LeftButton);
                      }),
             int(QDialog::Accepted));
    QCOMPARE(dialog.filename->toPlainText(), QStringLiteral("beta.txt"));
    QCOMPARE(dialog.filecount->text(), QStringLiteral("1"));

    // Cancel: no names, but the count of the last double-click stays
    runmodal(&dialog, [&] {
        pickbeta();
        QTest::mouseClick(dialog.cancelbutton, Qt::LeftButton);
    });
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.filename->toPlainText(), QString());
    QCOMPARE(dialog.filecount->text(), QStringLiteral("1"));

    // Escape cancels too: the names typed or picked are not a choice
    runmodal(&dialog, [&] {
        pickbeta();
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.filename->toPlainText(), QString());

    // the close box ends the modal display and leaves nothing chosen and nothing counted
    runmodal(&dialog, [&] {
        pickbeta();
        QCOMPARE(dialog.filecount->text(), QStringLiteral("1"));
        dialog.close();
    });
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.filename->toPlainText(), QString());
    QCOMPARE(dialog.filecount->text(), QString());
}

void tst_selectfile::changingfolder()
{
    Z_selectfile dialog;
    QVERIFY(dialog.setpath(tmp.path()));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dclick(dialog.filelist, entry(dialog.filelist, QStringLiteral("data.csv")));
    QCOMPARE(dialog.filename->toPlainText(), QStringLiteral("data.csv"));

    QListWidgetItem *sub = entry(dialog.dirlist, QStringLiteral("sub"));
    QVERIFY(sub);
    dclick(dialog.dirlist, sub);
    const QString subpath = QDir(tmp.path()).absoluteFilePath(QStringLiteral("sub"));
    QCOMPARE(dialog.path(), subpath);
    QCOMPARE(texts(dialog.filelist),
             QStringList({QStringLiteral("inner.log"), QStringLiteral("inner.txt")}));
    QCOMPARE(texts(dialog.dirlist), QStringList({QDir::toNativeSeparators(subpath),
                                                 QStringLiteral(".."), QStringLiteral("deeper")}));
    QCOMPARE(dialog.filename->toPlainText(), QString());
    QCOMPARE(dialog.filecount->text(), QStringLiteral("1"));

    // the pattern goes with the file list into the new folder
    dialog.filemask->setText(QStringLiteral("*.txt"));
    QCOMPARE(texts(dialog.filelist), QStringList({QStringLiteral("inner.txt")}));

    QListWidgetItem *up = entry(dialog.dirlist, QStringLiteral(".."));
    dclick(dialog.dirlist, up);
    QCOMPARE(dialog.path(), QDir(tmp.path()).absolutePath());
    QCOMPARE(texts(dialog.filelist), txtfiles);

    // the drive list shows the drive that holds the folder
    QVERIFY(dialog.drivelist->count() >= 1);
    QVERIFY(
        dialog.path().startsWith(dialog.drivelist->currentData().toString(), Qt::CaseInsensitive));
}

void tst_selectfile::unreadablefolder_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("a folder that does not exist") << QStringLiteral("missing");
    QTest::newRow("a listed folder removed before it is opened") << QStringLiteral("removed");
    QTest::newRow("a folder without permission to read") << QStringLiteral("locked");
}

void tst_selectfile::unreadablefolder()
{
    QFETCH(QString, how);
    const QDir dir(tmp.path());
    QVERIFY(dir.mkpath(QStringLiteral("locked")));
    if (how == QLatin1String("locked")) {
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("locked")), {}));
        if (!QDir(dir.filePath(QStringLiteral("locked"))).entryList().isEmpty() ||
            QFileInfo(dir.filePath(QStringLiteral("locked"))).isReadable())
            QSKIP("running with rights that read a folder whatever its permissions");
    }

    Z_selectfile dialog;
    QVERIFY(dialog.setpath(tmp.path()));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dclick(dialog.filelist, entry(dialog.filelist, QStringLiteral("notes")));
    const QStringList dirsbefore = texts(dialog.dirlist);
    const QStringList filesbefore = texts(dialog.filelist);

    if (how == QLatin1String("missing")) {
        QVERIFY(!dialog.setpath(dir.filePath(QStringLiteral("missing"))));
    } else {
        if (how == QLatin1String("removed"))
            QVERIFY(QDir(dir.filePath(QStringLiteral("sub"))).removeRecursively());
        const QString name = how == QLatin1String("removed") ? QStringLiteral("sub") : how;
        QListWidgetItem *item = entry(dialog.dirlist, name);
        QVERIFY(item);
        dclick(dialog.dirlist, item);
    }
    QCOMPARE(dialog.path(), QDir(tmp.path()).absolutePath());
    QCOMPARE(texts(dialog.dirlist), dirsbefore);
    QCOMPARE(texts(dialog.filelist), filesbefore);
    // nothing changed, so the choice stands
    QCOMPARE(dialog.filename->toPlainText(), QStringLiteral("notes"));
}

void tst_selectfile::sharedinstance()
{
    Z_selectfile *dialog = Z_selectfile::instance();
    QCOMPARE(Z_selectfile::instance(), dialog);
    QVERIFY(dialog->setpath(tmp.path()));

    // the operator types a pattern, then accepts
    runmodal(dialog, [dialog] {
        dialog->filemask->selectAll();
        QTest::keyClicks(dialog->filemask, QStringLiteral("*.csv"));
        QTest::mouseClick(dialog->okbutton, Qt::LeftButton);
    });
    QCOMPARE(dialog->pattern(), QStringLiteral("*.csv"));

    // a caller sets another pattern; reopening shows it in filemask
    dialog->setpattern(QStringLiteral("*.txt"));
    QCOMPARE(dialog->filemask->text(), QStringLiteral("*.csv"));
    QString shown;
    QStringList listed;
    runmodal(dialog, [&] {
        shown = dialog->filemask->text();
        listed = texts(dialog->filelist);
        QTest::mouseClick(dialog->okbutton, Qt::LeftButton);
    });
    QCOMPARE(shown, QStringLiteral("*.txt"));
    QCOMPARE(listed, txtfiles);

    QPointer<Z_selectfile> watched(dialog);
    Z_selectfile::release();
    QVERIFY(watched.isNull());
    Z_selectfile *fresh = Z_selectfile::instance();
    QCOMPARE(fresh->pattern(), QStringLiteral("*"));
    QCOMPARE(fresh->filename->toPlainText(), QString());
}

void tst_selectfile::layout()
{
    Z_selectfile dialog;
    const qreal dpi = designdpi(&dialog);
    QCOMPARE(dialog.size(), QSize(twips(5340, dpi), twips(6240, dpi)));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.windowTitle(), QStringLiteral(" "));
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMinMaxButtonsHint));
    QVERIFY(!dialog.windowIcon().isNull());

    QCOMPARE(dialog.dirlist->geometry(), twipsrect(2820, 240, 2430, 4365, dpi));
    QCOMPARE(dialog.filelist->geometry(), twipsrect(45, 1170, 2715, 4770, dpi));
    QCOMPARE(dialog.filename->geometry(), twipsrect(45, 45, 2685, 780, dpi));
    QCOMPARE(dialog.cancelbutton->geometry(), twipsrect(2820, 5640, 2430, 330, dpi));
    QCOMPARE(dialog.filecount->geometry(), twipsrect(495, 855, 945, 285, dpi));
    QCOMPARE(dialog.okbutton->text(), QStringLiteral("OK"));
    QCOMPARE(dialog.Label1->text(), QStringLiteral("Files: "));
    QCOMPARE(dialog.Label2->text(), QStringLiteral("Directories:"));
    QCOMPARE(dialog.Label3->text(), QStringLiteral("Drives"));
    QCOMPARE(dialog.filename->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(nexttab(dialog.dirlist), dialog.filelist);
    QCOMPARE(nexttab(dialog.filelist), dialog.drivelist);
    QCOMPARE(nexttab(dialog.cancelbutton), dialog.filemask);
    QCOMPARE(nexttab(dialog.filemask), dialog.filecount);
}

QTEST_MAIN(tst_selectfile)
#include "tst_selectfile.moc"

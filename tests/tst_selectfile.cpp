// Tests of the file selection dialog on a folder of its own: pattern, choice, cancel, folders.
#include "dialogs/z_selectfile.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace chamber;

namespace {

QStringList texts(const QListWidget *list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result << list->item(i)->text();
    return result;
}

// Mouse input goes in through the window, as the platform delivers it, so that a second press in
// time becomes a double-click.
void mouse(QListWidget *list, const QString &text, bool dbl, Qt::KeyboardModifiers keys = {})
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(text));
    const QPoint at =
        list->viewport()->mapTo(list->window(), list->visualItemRect(found.first()).center());
    if (dbl)
        QTest::mouseDClick(list->window()->windowHandle(), Qt::LeftButton, keys, at);
    else
        QTest::mouseClick(list->window()->windowHandle(), Qt::LeftButton, keys, at);
}

} // namespace

class tst_selectfile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void pattern();
    void choosing();
    void folders();

private:
    QTemporaryDir tmp;
    QScopedPointer<Z_selectfile> dialog;
    const QStringList allFiles{"alpha.txt", "beta.txt", "data.csv", "Gamma.TXT"};
    const QStringList txtFiles{"alpha.txt", "beta.txt", "Gamma.TXT"};
};

void tst_selectfile::initTestCase()
{
    QVERIFY(tmp.isValid());
    const QDir dir(tmp.path());
    QVERIFY(dir.mkpath("sub"));
    for (const char *name : {"alpha.txt", "beta.txt", "data.csv", "Gamma.TXT", ".hidden",
                             "sub/inner.txt", "sub/inner.log"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

void tst_selectfile::init()
{
    dialog.reset(new Z_selectfile);
    QVERIFY(dialog->setPath(tmp.path()));
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
}

void tst_selectfile::pattern()
{
    // hidden files stay out; names sort without regard to case
    QCOMPARE(texts(dialog->filelist), allFiles);
    dialog->setPattern("*.csv");
    QCOMPARE(texts(dialog->filelist), QStringList({"data.csv"}));

    dialog->filemask->setFocus();
    dialog->filemask->selectAll();
    const QList<std::pair<char, QStringList>> steps{
        {'*', allFiles}, {'.', {}}, {'t', {}}, {'x', {}}, {'t', txtFiles}};
    for (const auto &[key, expected] : steps) {
        QTest::keyClick(dialog->filemask, key);
        QCOMPARE(texts(dialog->filelist), expected);
    }

    // a caller sets another pattern while the dialog is hidden; reopening shows it
    dialog->hide();
    dialog->setPattern("*.csv");
    dialog->show();
    QCOMPARE(dialog->filemask->text(), QStringLiteral("*.csv"));
}

void tst_selectfile::choosing()
{
    dialog->setPattern("*.txt");
    mouse(dialog->filelist, "beta.txt", true);
    QCOMPARE(dialog->filename->toPlainText(), QStringLiteral("beta.txt"));
    QCOMPARE(dialog->filecount->text(), QStringLiteral("1"));

    // picked out of order, collected in list order, one a line with nothing before the first
    mouse(dialog->filelist, "Gamma.TXT", false);
    mouse(dialog->filelist, "alpha.txt", false, Qt::ControlModifier);
    mouse(dialog->filelist, "beta.txt", true, Qt::ControlModifier);
    QCOMPARE(dialog->filename->toPlainText(), QStringLiteral("alpha.txt\nbeta.txt\nGamma.TXT"));
    QCOMPARE(dialog->filecount->text(), QStringLiteral("3"));

    QTest::mouseClick(dialog->cancelbutton, Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->filename->toPlainText(), QString());
    QCOMPARE(dialog->filecount->text(), QStringLiteral("3"));

    // the close box leaves the result as a new dialog has it
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    mouse(dialog->filelist, "beta.txt", true);
    QVERIFY(dialog->close());
    QCOMPARE(dialog->filename->toPlainText(), QString());
    QCOMPARE(dialog->filecount->text(), QString());
}

void tst_selectfile::folders()
{
    mouse(dialog->filelist, "data.csv", true);
    mouse(dialog->dirlist, "sub", true);
    QCOMPARE(dialog->path(), QDir(tmp.path()).absoluteFilePath("sub"));
    QCOMPARE(texts(dialog->filelist), QStringList({"inner.log", "inner.txt"}));
    QCOMPARE(dialog->filename->toPlainText(), QString());
    QCOMPARE(dialog->filecount->text(), QStringLiteral("1"));

    // a folder that cannot be read leaves everything where it was
    mouse(dialog->filelist, "inner.txt", true);
    const QStringList dirs = texts(dialog->dirlist);
    QVERIFY(!dialog->setPath(QDir(tmp.path()).filePath("missing")));
    QCOMPARE(dialog->path(), QDir(tmp.path()).absoluteFilePath("sub"));
    QCOMPARE(texts(dialog->dirlist), dirs);
    QCOMPARE(texts(dialog->filelist), QStringList({"inner.log", "inner.txt"}));
    QCOMPARE(dialog->filename->toPlainText(), QStringLiteral("inner.txt"));
}

QTEST_MAIN(tst_selectfile)
#include "tst_selectfile.moc"

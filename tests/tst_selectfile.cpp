// The file selection dialog on a folder of its own: pattern, choice, cancel, folders.
#include "dialogs/z_selectfile.h"
#include "support/files.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
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
    // Hidden files stay out and names sort without regard to case. The pattern may hold several
    // parts; typed, it filters as it changes, and one set while the dialog is hidden shows again.
    // Names picked out of order are collected in list order, one a line, and counted; "Cancel"
    // clears the names, the close box the count as well. A subfolder opened lists its files and
    // forgets the names; a folder that cannot be read leaves everything where it was.
    void choosing()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid() && QDir(tmp.path()).mkpath("sub"));
        for (const char *name : {"alpha.txt", "beta.txt", "data.csv", "Gamma.TXT", ".hidden",
                                 "sub/inner.txt", "sub/inner.log"})
            QVERIFY(writeFile(QDir(tmp.path()).filePath(name), {}));
        Z_selectfile dialog;
        QVERIFY(dialog.setPath(tmp.path()));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(texts(dialog.filelist),
                 QStringList({"alpha.txt", "beta.txt", "data.csv", "Gamma.TXT"}));
        dialog.setPattern("*.csv; *.none");
        QCOMPARE(texts(dialog.filelist), QStringList({"data.csv"}));
        dialog.filemask->setFocus();
        dialog.filemask->selectAll();
        QTest::keyClicks(dialog.filemask, "*.tx");
        QCOMPARE(texts(dialog.filelist), QStringList());
        QTest::keyClick(dialog.filemask, 't');
        QCOMPARE(texts(dialog.filelist), QStringList({"alpha.txt", "beta.txt", "Gamma.TXT"}));
        dialog.hide();
        dialog.setPattern("*.csv");
        dialog.show();
        QCOMPARE(dialog.filemask->text(), QStringLiteral("*.csv"));

        dialog.setPattern("*");
        mouse(dialog.filelist, "Gamma.TXT", false);
        mouse(dialog.filelist, "alpha.txt", false, Qt::ControlModifier);
        mouse(dialog.filelist, "beta.txt", true, Qt::ControlModifier);
        QCOMPARE(dialog.filename->toPlainText(), QStringLiteral("alpha.txt\nbeta.txt\nGamma.TXT"));
        QTest::mouseClick(dialog.cancelbutton, Qt::LeftButton);
        QCOMPARE(dialog.filename->toPlainText() + dialog.filecount->text(), QStringLiteral("3"));
        dialog.show();
        mouse(dialog.filelist, "beta.txt", true);
        QVERIFY(dialog.close());
        QCOMPARE(dialog.filename->toPlainText() + dialog.filecount->text(), QString());

        dialog.show();
        mouse(dialog.filelist, "data.csv", true);
        mouse(dialog.dirlist, "sub", true);
        const QString sub = QDir(tmp.path()).absoluteFilePath("sub");
        QCOMPARE(dialog.path(), sub);
        QCOMPARE(texts(dialog.filelist), QStringList({"inner.log", "inner.txt"}));
        QCOMPARE(dialog.filename->toPlainText(), QString());
        mouse(dialog.filelist, "inner.txt", true);
        const QStringList dirs = texts(dialog.dirlist);
        QVERIFY(!dialog.setPath(QDir(tmp.path()).filePath("missing")));
        QCOMPARE(dialog.path(), sub);
        QCOMPARE(texts(dialog.dirlist), dirs);
        QCOMPARE(texts(dialog.filelist), QStringList({"inner.log", "inner.txt"}));
        QCOMPARE(dialog.filename->toPlainText(), QStringLiteral("inner.txt"));
    }
};

QTEST_MAIN(tst_selectfile)
#include "tst_selectfile.moc"

// The shared file selection dialog: drive, folder and file lists and the names chosen.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;

namespace chamber {

// A caller sets the pattern if wanted, runs exec(), then reads the text of filename (one name a
// line, empty after "Cancel" or the close box), of filecount and path() for the folder.
class Z_selectfile : public QDialog
{
    Q_OBJECT
public:
    explicit Z_selectfile(QWidget *parent = nullptr);
    ~Z_selectfile() override;

    // Two characters between the names collected into filename: one name a line.
    static inline const QString listsep = QStringLiteral("\r\n");

    // The one dialog that callers share, made on first use; release() destroys it.
    static Z_selectfile *instance();
    static void release();

    // The file list's folder and pattern ("*" unless set; several patterns separated by ";").
    QString path() const;
    QString pattern() const;
    void setPattern(const QString &pattern);
    // Moves the folder list, and so the file list, to folder; false, with nothing changed, when
    // the folder cannot be read.
    bool setPath(const QString &folder);

    QListWidget *dirlist = nullptr;  // the current folder, "..", then its subfolders
    QListWidget *filelist = nullptr; // files of path() that match pattern()
    QComboBox *drivelist = nullptr;
    QPlainTextEdit *filename = nullptr;
    QPushButton *okbutton = nullptr;
    QPushButton *cancelbutton = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *filemask = nullptr;
    QLineEdit *filecount = nullptr;

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Activate();
    void Form_Terminate();
    void filemask_Change();
    void drivelist_Change();
    void dirlist_Change();
    void filelist_DblClick();
    void okbutton_Click();
    void cancelbutton_Click();

    void dirlist_Activated(QListWidgetItem *item);
    bool fillDirList(const QString &folder);
    void fillFileList();
    void showDrive(const QString &folder);

    QString dirPath;  // the folder list's path
    QString filePath; // the file list's path
    QString filePattern = QStringLiteral("*");
};

} // namespace chamber

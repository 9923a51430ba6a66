// The shared file selection dialog: its layout, its lists and the handlers that fill them.
#include "dialogs/z_selectfile.h"

#include "util/design.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>

namespace chamber {

namespace {

constexpr int selectClientWidth = 5340;
constexpr int selectClientHeight = 6240;
constexpr int folderIconPixels = 32;
constexpr int pathRole = Qt::UserRole;

QPointer<Z_selectfile> sharedInstance;

// An open folder in yellow and white, drawn here so no image file is needed.
QIcon folderIcon()
{
    QPixmap pixmap(folderIconPixels, folderIconPixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const QColor edge(128, 128, 0);
    const QColor yellow(255, 255, 0);

    // the back of the folder with its tab
    painter.setPen(edge);
    painter.setBrush(yellow);
    painter.drawPolygon(QPolygon({{2, 7}, {11, 7}, {13, 10}, {26, 10}, {26, 27}, {2, 27}}));
    // a white sheet standing in the open folder
    painter.setBrush(Qt::white);
    painter.drawRect(6, 4, 16, 15);
    painter.setPen(QColor(128, 128, 128));
    for (int y = 8; y <= 16; y += 3)
        painter.drawLine(9, y, 19, y);
    // the front flap, tilted open
    painter.setPen(edge);
    painter.setBrush(yellow);
    painter.drawPolygon(QPolygon({{7, 15}, {31, 15}, {26, 27}, {2, 27}}));
    painter.end();
    return QIcon(pixmap);
}

// Only a folder whose entries can be listed may become the current one.
bool readableFolder(const QString &folder)
{
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir() || !info.isReadable())
        return false;
#ifdef Q_OS_UNIX
    if (!info.isExecutable())
        return false;
#endif
    return true;
}

} // namespace

Z_selectfile::Z_selectfile(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    designDialog(this, selectClientWidth, selectClientHeight);
    setWindowIcon(folderIcon());

    dirlist = place(new QListWidget(this), {2820, 240, 2430, 4365}, QStringLiteral("dirlist"),
                    QStringLiteral("Directories"));

    filelist = place(new QListWidget(this), {45, 1170, 2715, 4770}, QStringLiteral("filelist"),
                     QStringLiteral("Files"));
    filelist->setSelectionMode(QAbstractItemView::ExtendedSelection);

    drivelist = place(new QComboBox(this), {2805, 4860, 2445, 315}, QStringLiteral("drivelist"),
                      QStringLiteral("Drives"));
    for (const QFileInfo &drive : QDir::drives()) {
        const QString root = drive.absoluteFilePath();
        drivelist->addItem(QDir::toNativeSeparators(root), root);
    }

    filename = place(new QPlainTextEdit(this), {45, 45, 2685, 780}, QStringLiteral("filename"),
                     QStringLiteral("File names"));
    filename->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    filename->setTabChangesFocus(true); // names hold no tabs, and "OK" must be a Tab away

    okbutton = place(new QPushButton(QStringLiteral("OK"), this), {2820, 5220, 2430, 330},
                     QStringLiteral("okbutton"), QStringLiteral("OK"));

    cancelbutton = place(new QPushButton(QStringLiteral("Cancel"), this), {2820, 5640, 2430, 330},
                         QStringLiteral("cancelbutton"), QStringLiteral("Cancel"));

    Label1 = place(new QLabel(QStringLiteral("Files: "), this), {45, 900, 1095, 255},
                   QStringLiteral("Label1"), QStringLiteral("Files: "));

    Label2 = place(new QLabel(QStringLiteral("Directories:"), this), {2820, 45, 1335, 255},
                   QStringLiteral("Label2"), QStringLiteral("Directories:"));

    Label3 = place(new QLabel(QStringLiteral("Drives"), this), {2805, 4635, 630, 255},
                   QStringLiteral("Label3"), QStringLiteral("Drives"));

    filemask = place(new QLineEdit(filePattern, this), {1500, 855, 1215, 285},
                     QStringLiteral("filemask"), QStringLiteral("File pattern"));

    filecount = place(new QLineEdit(this), {495, 855, 945, 285}, QStringLiteral("filecount"),
                      QStringLiteral("Number of files"));

    setTabOrder(dirlist, filelist);
    setTabOrder(filelist, drivelist);
    setTabOrder(drivelist, filename);
    setTabOrder(filename, okbutton);
    setTabOrder(okbutton, cancelbutton);
    setTabOrder(cancelbutton, filemask);
    setTabOrder(filemask, filecount);

    // start where the program was started, as a new dialog always has
    if (!fillDirList(QDir::currentPath()))
        fillDirList(QDir::rootPath());
    filePath = dirPath;
    showDrive(dirPath);
    fillFileList();

    connect(filemask, &QLineEdit::textChanged, this, &Z_selectfile::filemask_Change);
    connect(drivelist, &QComboBox::currentIndexChanged, this, &Z_selectfile::drivelist_Change);
    connect(dirlist, &QListWidget::itemActivated, this, &Z_selectfile::dirlist_Activated);
    connect(filelist, &QListWidget::itemDoubleClicked, this, &Z_selectfile::filelist_DblClick);
    filelist->installEventFilter(this); // Enter, the keyboard's double-click
    connect(okbutton, &QPushButton::clicked, this, &Z_selectfile::okbutton_Click);
    connect(cancelbutton, &QPushButton::clicked, this, &Z_selectfile::cancelbutton_Click);
}

Z_selectfile::~Z_selectfile()
{
    Form_Terminate();
}

Z_selectfile *Z_selectfile::instance()
{
    if (!sharedInstance)
        sharedInstance = new Z_selectfile;
    return sharedInstance;
}

void Z_selectfile::release()
{
    delete sharedInstance.data();
}

QString Z_selectfile::path() const
{
    return filePath;
}

QString Z_selectfile::pattern() const
{
    return filePattern;
}

void Z_selectfile::setPattern(const QString &pattern)
{
    if (pattern == filePattern)
        return;
    filePattern = pattern;
    fillFileList();
}

bool Z_selectfile::setPath(const QString &folder)
{
    const QString previous = dirPath;
    if (!fillDirList(folder))
        return false;
    if (dirPath != previous) {
        showDrive(dirPath);
        dirlist_Change();
    }
    return true;
}

void Z_selectfile::reject()
{
    // Escape is a cancel: a caller must not take the names for a choice
    filename->clear();
    QDialog::reject();
}

bool Z_selectfile::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == filelist && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // The list passes Enter on to the dialog, whose default button would close it with
            // no name collected. A double-click selects what it collects; so does Enter, when
            // the entry with the focus is the only one that could be meant.
            if (filelist->selectedItems().isEmpty() && filelist->currentItem())
                filelist->currentItem()->setSelected(true);
            filelist_DblClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Z_selectfile::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Form_Activate();
}

void Z_selectfile::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Form_Activate();
}

void Z_selectfile::closeEvent(QCloseEvent *event)
{
    // the close box leaves the result as a new dialog has it: nothing chosen, nothing counted
    filename->clear();
    filecount->clear();
    QDialog::closeEvent(event);
}

void Z_selectfile::Form_Activate()
{
    filemask->setText(filePattern);
}

void Z_selectfile::Form_Terminate()
{
    filename->clear();
}

void Z_selectfile::filemask_Change()
{
    setPattern(filemask->text());
}

void Z_selectfile::drivelist_Change()
{
    const QString drive = drivelist->currentData(pathRole).toString();
    if (!setPath(drive)) {
        // a drive that cannot be read (an empty card reader, say) leaves everything where it was
        showDrive(dirPath);
        return;
    }
    filePath = dirPath;
    fillFileList();
}

void Z_selectfile::dirlist_Change()
{
    filePath = dirPath;
    fillFileList();
    filename->clear();
}

void Z_selectfile::filelist_DblClick()
{
    QString names;
    int count = 0;
    for (int i = 0; i < filelist->count(); ++i) {
        const QListWidgetItem *entry = filelist->item(i);
        if (entry->isSelected()) {
            names += listsep + entry->text();
            ++count;
        }
    }
    filename->setPlainText(names.mid(listsep.size()));
    filecount->setText(QString::number(count));
}

void Z_selectfile::okbutton_Click()
{
    accept();
}

void Z_selectfile::cancelbutton_Click()
{
    filename->clear();
    QDialog::reject();
}

void Z_selectfile::dirlist_Activated(QListWidgetItem *item)
{
    setPath(item->data(pathRole).toString());
}

// Lists folder, "..", and its subfolders; false, leaving the list as it was, when folder
// cannot be read.
bool Z_selectfile::fillDirList(const QString &folder)
{
    if (!readableFolder(folder))
        return false;
    const QDir dir(QFileInfo(folder).absoluteFilePath());
    const QString absolute = dir.absolutePath();
    const QStringList subfolders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

    dirPath = absolute;
    dirlist->clear();
    auto *current = new QListWidgetItem(QDir::toNativeSeparators(absolute), dirlist);
    current->setData(pathRole, absolute);
    QFont bold = current->font();
    bold.setBold(true);
    current->setFont(bold);
    if (!dir.isRoot()) {
        auto *up = new QListWidgetItem(QStringLiteral(".."), dirlist);
        up->setData(pathRole, QFileInfo(absolute).absolutePath());
    }
    for (const QString &name : subfolders) {
        auto *entry = new QListWidgetItem(name, dirlist);
        entry->setData(pathRole, dir.absoluteFilePath(name));
    }
    dirlist->setCurrentItem(current);
    return true;
}

void Z_selectfile::fillFileList()
{
    QDir dir(filePath);
    QStringList patterns;
    for (const QString &part : filePattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (!part.trimmed().isEmpty())
            patterns << part.trimmed();
    }
    dir.setNameFilters(patterns);
    dir.setFilter(QDir::Files);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    filelist->clear();
    filelist->addItems(dir.entryList());
}

// Shows the drive that holds folder in drivelist without raising drivelist_Change.
void Z_selectfile::showDrive(const QString &folder)
{
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < drivelist->count(); ++i) {
        const QString drive = drivelist->itemData(i, pathRole).toString();
        if (folder.startsWith(drive, Qt::CaseInsensitive) && drive.size() > bestLength) {
            best = i;
            bestLength = drive.size();
        }
    }
    const QSignalBlocker blocker(drivelist);
    drivelist->setCurrentIndex(best);
}

} // namespace chamber

#include "moc_z_selectfile.cpp"

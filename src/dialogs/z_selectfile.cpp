// The shared file selection dialog: its layout, its lists and the handlers that fill them.
#include "dialogs/z_selectfile.h"

#include "util/basicutilities.h"
#include "util/design.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
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

constexpr int clientwidth = 5340;
constexpr int clientheight = 6240;
constexpr int iconpixels = 32;
constexpr int pathrole = Qt::UserRole;

QPointer<Z_selectfile> sharedinstance;

// An open folder in yellow and white, drawn here so no image file is needed.
QIcon foldericon()
{
    QPixmap pixmap(iconpixels, iconpixels);
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
bool readablefolder(const QString &folder)
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
    const qreal dpi = designdpi(this);
    setFont(designfont(8.25, false));
    setWindowTitle(QStringLiteral(" "));
    setWindowIcon(foldericon());
    setFixedSize(twips(clientwidth, dpi), twips(clientheight, dpi));

    dirlist = new QListWidget(this);
    dirlist->setGeometry(twipsrect(2820, 240, 2430, 4365, dpi));
    namecontrol(dirlist, QStringLiteral("dirlist"), QStringLiteral("Directories"));

    filelist = new QListWidget(this);
    filelist->setGeometry(twipsrect(45, 1170, 2715, 4770, dpi));
    filelist->setSelectionMode(QAbstractItemView::ExtendedSelection);
    namecontrol(filelist, QStringLiteral("filelist"), QStringLiteral("Files"));

    drivelist = new QComboBox(this);
    drivelist->setGeometry(twipsrect(2805, 4860, 2445, 315, dpi));
    for (const QFileInfo &drive : QDir::drives()) {
        const QString root = drive.absoluteFilePath();
        drivelist->addItem(QDir::toNativeSeparators(root), root);
    }
    namecontrol(drivelist, QStringLiteral("drivelist"), QStringLiteral("Drives"));

    filename = new QPlainTextEdit(this);
    filename->setGeometry(twipsrect(45, 45, 2685, 780, dpi));
    filename->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    namecontrol(filename, QStringLiteral("filename"), QStringLiteral("File names"));

    okbutton = new QPushButton(QStringLiteral("OK"), this);
    okbutton->setGeometry(twipsrect(2820, 5220, 2430, 330, dpi));
    namecontrol(okbutton, QStringLiteral("okbutton"), QStringLiteral("OK"));

    cancelbutton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelbutton->setGeometry(twipsrect(2820, 5640, 2430, 330, dpi));
    namecontrol(cancelbutton, QStringLiteral("cancelbutton"), QStringLiteral("Cancel"));

    Label1 = new QLabel(QStringLiteral("Files: "), this);
    Label1->setGeometry(twipsrect(45, 900, 1095, 255, dpi));
    namecontrol(Label1, QStringLiteral("Label1"), QStringLiteral("Files: "));

    Label2 = new QLabel(QStringLiteral("Directories:"), this);
    Label2->setGeometry(twipsrect(2820, 45, 1335, 255, dpi));
    namecontrol(Label2, QStringLiteral("Label2"), QStringLiteral("Directories:"));

    Label3 = new QLabel(QStringLiteral("Drives"), this);
    Label3->setGeometry(twipsrect(2805, 4635, 630, 255, dpi));
    namecontrol(Label3, QStringLiteral("Label3"), QStringLiteral("Drives"));

    filemask = new QLineEdit(filepattern, this);
    filemask->setGeometry(twipsrect(1500, 855, 1215, 285, dpi));
    namecontrol(filemask, QStringLiteral("filemask"), QStringLiteral("File pattern"));

    filecount = new QLineEdit(this);
    filecount->setGeometry(twipsrect(495, 855, 945, 285, dpi));
    namecontrol(filecount, QStringLiteral("filecount"), QStringLiteral("Number of files"));

    setTabOrder(dirlist, filelist);
    setTabOrder(filelist, drivelist);
    setTabOrder(drivelist, filename);
    setTabOrder(filename, okbutton);
    setTabOrder(okbutton, cancelbutton);
    setTabOrder(cancelbutton, filemask);
    setTabOrder(filemask, filecount);

    // start where the program was started, as a new dialog always has
    if (!filldirlist(QDir::currentPath()))
        filldirlist(QDir::rootPath());
    filepath = dirpath;
    showdrive(dirpath);
    fillfilelist();

    connect(filemask, &QLineEdit::textChanged, this, &Z_selectfile::filemask_Change);
    connect(drivelist, &QComboBox::currentIndexChanged, this, &Z_selectfile::drivelist_Change);
    connect(dirlist, &QListWidget::itemActivated, this, &Z_selectfile::dirlist_Activated);
    connect(filelist, &QListWidget::itemDoubleClicked, this, &Z_selectfile::filelist_DblClick);
    connect(okbutton, &QPushButton::clicked, this, &Z_selectfile::okbutton_Click);
    connect(cancelbutton, &QPushButton::clicked, this, &Z_selectfile::cancelbutton_Click);
}

Z_selectfile::~Z_selectfile()
{
    Form_Terminate();
}

Z_selectfile *Z_selectfile::instance()
{
    if (!sharedinstance)
        sharedinstance = new Z_selectfile;
    return sharedinstance;
}

void Z_selectfile::release()
{
    delete sharedinstance.data();
}

QString Z_selectfile::path() const
{
    return filepath;
}

QString Z_selectfile::pattern() const
{
    return filepattern;
}

void Z_selectfile::setpattern(const QString &pattern)
{
    if (pattern == filepattern)
        return;
    filepattern = pattern;
    fillfilelist();
}

bool Z_selectfile::setpath(const QString &folder)
{
    const QString previous = dirpath;
    if (!filldirlist(folder))
        return false;
    if (dirpath != previous) {
        showdrive(dirpath);
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
    filemask->setText(filepattern);
}

void Z_selectfile::Form_Terminate()
{
    filename->clear();
}

void Z_selectfile::filemask_Change()
{
    setpattern(filemask->text());
}

void Z_selectfile::drivelist_Change()
{
    const QString drive = drivelist->currentData(pathrole).toString();
    if (!setpath(drive)) {
        // a drive that cannot be read (an empty card reader, say) leaves everything where it was
        showdrive(dirpath);
        return;
    }
    filepath = dirpath;
    fillfilelist();
}

void Z_selectfile::dirlist_Change()
{
    filepath = dirpath;
    fillfilelist();
    filename->clear();
}

void Z_selectfile::filelist_DblClick()
{
    QString names;
    int count = 0;
    for (int i = 0; i < filelist->count(); ++i) {
        const QListWidgetItem *entry = filelist->item(i);
        if (entry->isSelected()) {
            names += basicutilities::listsep + entry->text();
            ++count;
        }
    }
    filename->setPlainText(names.mid(basicutilities::listsep.size()));
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
    setpath(item->data(pathrole).toString());
}

// Lists folder, "..", and its subfolders; false, leaving the list as it was, when folder
// cannot be read.
bool Z_selectfile::filldirlist(const QString &folder)
{
    if (!readablefolder(folder))
        return false;
    const QDir dir(QFileInfo(folder).absoluteFilePath());
    const QString absolute = dir.absolutePath();
    const QStringList subfolders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

    dirpath = absolute;
    dirlist->clear();
    auto *current = new QListWidgetItem(QDir::toNativeSeparators(absolute), dirlist);
    current->setData(pathrole, absolute);
    QFont bold = current->font();
    bold.setBold(true);
    current->setFont(bold);
    if (!dir.isRoot()) {
        auto *up = new QListWidgetItem(QStringLiteral(".."), dirlist);
        up->setData(pathrole, QFileInfo(absolute).absolutePath());
    }
    for (const QString &name : subfolders) {
        auto *entry = new QListWidgetItem(name, dirlist);
        entry->setData(pathrole, dir.absoluteFilePath(name));
    }
    dirlist->setCurrentItem(current);
    return true;
}

void Z_selectfile::fillfilelist()
{
    QDir dir(filepath);
    QStringList patterns;
    for (const QString &part : filepattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
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
void Z_selectfile::showdrive(const QString &folder)
{
    int best = -1;
    qsizetype bestlength = -1;
    for (int i = 0; i < drivelist->count(); ++i) {
        const QString drive = drivelist->itemData(i, pathrole).toString();
        if (folder.startsWith(drive, Qt::CaseInsensitive) && drive.size() > bestlength) {
            best = i;
            bestlength = drive.size();
        }
    }
    const QSignalBlocker blocker(drivelist);
    drivelist->setCurrentIndex(best);
}

} // namespace chamber

// The main window: its controls and diagram, start-up with the port scan, and shut-down.
#include "main/main.h"

#include "dialogs/rs232_portscanning.h"
#include "link/portsettings.h"
#include "record/runrecord.h"
#include "util/basicutilities.h"
#include "util/design.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define CHAMBER_LEAK_CHECK
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CHAMBER_LEAK_CHECK
#endif
#endif
#ifdef CHAMBER_LEAK_CHECK
#include <sanitizer/lsan_interface.h>

// fontconfig's caches are let go only by the application's own teardown, which a close inside a
// pause skips on purpose: not a leak of ours.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif

namespace chamber {

namespace {

constexpr int tickMs = 250;

QString indexed(const char *name, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

} // namespace

main::main(SerialLink *link, QWidget *parent)
    : QWidget(parent)
    , rs232(link)
{
    createControls();
    createHistory();
    createConditions();

    connect(Timer1, &QTimer::timeout, this, &main::Timer1_Timer);
    connect(rs232, &SerialLink::DataArrival, this, &main::rs232_DataArrival);
    connect(rs232, &SerialLink::PortLost, this, &main::rs232_PortLost);
    connect(portselect, &QComboBox::currentIndexChanged, this, &main::portselect_Click);
    for (int i = 0; i < int(Command1.size()); ++i)
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    // stateChanged also fires on setChecked(), as the handlers expect
    connect(cyclerun, &QCheckBox::stateChanged, this, &main::cyclerun_Click);
    for (int i = 0; i < int(rampenable.size()); ++i)
        connect(rampenable[i], &QCheckBox::stateChanged, this, [this, i] { rampenable_Click(i); });

    // KeyPress, LostFocus and DblClick arrive through eventFilter()
    registerNumericFields();
    portselect->installEventFilter(this);
    // installed after the open list's own filter, so it runs first and that one sees only the
    // keys let through here
    portselect->view()->installEventFilter(this);
    createProfileShortcuts();

    Timer1->start();
}

void main::createControls()
{
    const qreal dpi = designDpi(this);
    setWindowTitle(QStringLiteral("Temperature controller"));
    setFont(designFont(12, true));
    resize(twips(7935, dpi), twips(8085, dpi));

    auto textBox = [this](const QString &name, const QString &spoken, const QString &text,
                          TwipsPlace at) {
        auto *edit = place(new QLineEdit(text, this), at, name, spoken);
        edit->setAlignment(Qt::AlignCenter);
        return edit;
    };
    auto checkBox = [this](const QString &name, const QString &spoken, const QString &caption,
                           TwipsPlace at) {
        return place(new QCheckBox(caption, this), at, name, spoken);
    };
    auto label = [this](int index, const QString &caption, TwipsPlace at) {
        Label1[index] = place(new QLabel(caption, this), at, indexed("Label1", index), caption);
        Label1[index]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    };

    const char *buttonCaptions[] = {"Set Temp", "Read Temp"};
    const int buttonLeft[] = {120, 1800};
    for (int i = 0; i < 2; ++i)
        Command1[i] = place(new QPushButton(QLatin1String(buttonCaptions[i]), this),
                            {buttonLeft[i], 60, 1635, 435}, indexed("Command1", i),
                            QLatin1String(buttonCaptions[i]));
    autoread = checkBox("autoread", "Auto", "Auto", {3600, 120, 1035, 300});
    tmult = textBox("tmult", "Dwell multiplier", "1", {6600, 60, 615, 405});
    tmult->hide();
    autosamples = checkBox("autosamples", "Reply indicator", QString(), {7560, 180, 195, 300});
    autosamples->setEnabled(false);
    setpoint = textBox("setpoint", "Setpoint, degrees C", "25.0", {120, 540, 1635, 435});
    currenttemp = textBox("currenttemp", "Temperature, degrees C", "0.0", {1800, 540, 1635, 435});
    label(3, "Errors", {3600, 600, 915, 315});
    errorcount = textBox("errorcount", "Errors", "0", {4440, 540, 1455, 435});
    errorcount->setReadOnly(true);
    portselect = place(new QComboBox(this), {6000, 540, 1815, 420}, "portselect", "Serial port");
    portselect->addItem(QStringLiteral("Combo1"));

    label(1, "Setpoints - DegC", {120, 1260, 2835, 315});
    const int pointLeft[] = {600, 2520, 4440, 6360};
    const char *setpointTexts[] = {"75.0", "25.0", "35.0", "25.0"};
    for (int i = 0; i < 4; ++i)
        setpoints[i] =
            textBox(indexed("setpoints", i), QStringLiteral("Setpoint %1, degrees C").arg(i + 1),
                    QLatin1String(setpointTexts[i]), {pointLeft[i], 1620, 975, 375});
    const int rampLeft[] = {5460, 7380};
    for (int i = 0; i < 2; ++i)
        rampenable[i] =
            checkBox(indexed("rampenable", i), QStringLiteral("Use point %1").arg(i + 3), QString(),
                     {rampLeft[i], 1680, 255, 300});
    const int dwellLeft[] = {1080, 3000, 4980, 6840};
    for (int i = 0; i < 4; ++i)
        dwells[i] = textBox(indexed("dwells", i), QStringLiteral("Dwell %1").arg(i + 1),
                            QStringLiteral("5"), {dwellLeft[i], 3420, 975, 375});
    label(0, "Dwells - Seconds", {120, 3840, 3135, 315});
    label(2, "Cycles", {120, 4260, 915, 315});
    cycles[0] = textBox(indexed("cycles", 0), "Cycles to run", "1", {1080, 4260, 975, 375});
    cycles[0]->setMaxLength(3);
    cycles[1] = textBox(indexed("cycles", 1), "Cycles begun", "0", {2100, 4260, 975, 375});
    cycles[1]->setReadOnly(true);
    cyclerun = checkBox("cyclerun", "Run", "Run", {3180, 4320, 975, 300});
    cyclerun->setEnabled(false);
    cyclemode = textBox("cyclemode", "Cycle state", "Hold", {5580, 4260, 975, 375});
    cyclemode->setReadOnly(true);
    countdown = textBox("countdown", "Dwell seconds left", "0", {6600, 4260, 1215, 375});
    countdown->setReadOnly(true);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(tickMs);

    // Tab order by the design's tab index; labels take no focus and disabled or hidden controls
    // are skipped by Qt itself.
    const QList<QWidget *> tabOrder = {
        Command1[0],  setpoint,     Command1[1],  portselect,   currenttemp,   autoread,
        errorcount,   autosamples,  dwells[0],    dwells[1],    dwells[2],     dwells[3],
        setpoints[0], setpoints[1], setpoints[2], setpoints[3], rampenable[0], rampenable[1],
        cycles[0],    cycles[1],    cyclerun,     countdown,    cyclemode,     tmult};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    Command1[0]->setFocus();

    const auto line = [](int x1, int y1, int x2, int y2, int thickness) {
        return LineShape{QLine(x1, y1, x2, y2), thickness};
    };
    Line1 = {line(120, 3060, 1080, 2340, 3),  line(1080, 2340, 2040, 2340, 3),
             line(3000, 3060, 2040, 2340, 3), line(3000, 3060, 3960, 3060, 3),
             line(3960, 3060, 4920, 2340, 3), line(4920, 2340, 5880, 2340, 3),
             line(6840, 3060, 7800, 3060, 3), line(6840, 3060, 5880, 2340, 3)};
    Line2 = {line(-420, 1140, 8220, 1140, 3), line(-300, 4800, 8340, 4800, 3)};
    Line3 = {line(1080, 2220, 1080, 1860, 2), line(3000, 2940, 3000, 1860, 2),
             line(6840, 2940, 6840, 1860, 2), line(4920, 2220, 4920, 1860, 2),
             line(1560, 3540, 1560, 2460, 2), line(3480, 3540, 3480, 3180, 2),
             line(5460, 3540, 5460, 2460, 2), line(7320, 3540, 7320, 3180, 2)};
}

void main::paintEvent(QPaintEvent *)
{
    // Drawn on the window itself, so every control covers the lines that run beneath it.
    const qreal dpi = designDpi(this);
    QPainter painter(this);
    const QColor colour = palette().color(QPalette::WindowText);
    auto draw = [&](const LineShape &shape) {
        painter.setPen(QPen(colour, shape.thickness, Qt::SolidLine, Qt::FlatCap));
        const QLine &l = shape.twipsLine;
        painter.drawLine(twips(l.x1(), dpi), twips(l.y1(), dpi), twips(l.x2(), dpi),
                         twips(l.y2(), dpi));
    };
    for (const LineShape &shape : Line1)
        draw(shape);
    for (const LineShape &shape : Line2)
        draw(shape);
    for (const LineShape &shape : Line3)
        draw(shape);
}

void main::Form_Load()
{
    std::array<QString, 101> datalist;
    portselect->clear();
    portscan(datalist);
    // entry 100 holds the count behind a blank where a sign would stand
    const int n = datalist[100].trimmed().toInt();
    for (int i = 0; i <= n; ++i)
        portselect->addItem(datalist[i]);
    portselect->setCurrentIndex(0);
}

void main::portscan(std::array<QString, 101> &datalist)
{
    datalist[0] = QStringLiteral("Select");
    int n = 0;
    basicutilities::PumpScope pumping;
    RS232_portscanning notice;
    notice.show();
    // pumps events: tick and replies may run here
    QCoreApplication::processEvents();
    for (int i = 1; i <= 99; ++i) {
        portok = true;
        const QString name = QStringLiteral("COM%1").arg(i);
        rs232->ClosePort();
        if (!rs232->OpenPort(name, portSettings))
            portok = false;
        rs232->ClosePort();
        if (portok) {
            ++n;
            datalist[n] = name;
        }
        // pumps events: tick and replies may run here
        QCoreApplication::processEvents();
    }
    datalist[100] = QStringLiteral(" %1").arg(n);
    notice.hide();
}

void main::closeEvent(QCloseEvent *event)
{
    // on disk before the program may end at once
    endRun(runEnding(QStringLiteral("window closed")));
    runRecord->waitWritten();
    Form_QueryUnload();
    event->accept();
    Form_Unload();
}

void main::Form_QueryUnload()
{
    rs232->ClosePort();
}

void main::Form_Unload()
{
    Timer1->stop();
    if (basicutilities::pumpDepth() > 0) {
        // Closed inside a pause, the reply decoder, the scan or a modal alert: unwinding would run
        // the rest of the interrupted handler (and perhaps send a command), so end here and now.
        std::fflush(nullptr);
#ifdef CHAMBER_LEAK_CHECK
        __lsan_do_leak_check(); // _Exit skips the check a sanitizer build makes at exit
#endif
        std::_Exit(0);
    }
    // otherwise the application ends when its last window has closed
}

} // namespace chamber

#include "moc_main.cpp"

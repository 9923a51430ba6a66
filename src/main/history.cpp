// What the window keeps of the past: the live trend, the record of each run, a silent controller.
#include "main/main.h"

#include "link/frames.h"
#include "link/replies.h"
#include "record/runrecord.h"
#include "trend/trendplot.h"
#include "util/basicutilities.h"
#include "util/design.h"
#include "util/numbertext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>

namespace chamber {

namespace {

// The band below the rule that closes the cycle row is the trend's.
constexpr int bandTopTwips = 4800;
constexpr int bandMarginTwips = 60;
constexpr int ruleClearancePx = 3; // the rule is 3 pixels thick
// 2 s of the 250 ms tick: this many polls in a row unanswered means the controller is silent.
constexpr int silentPolls = 8;
constexpr int setpointFrameSize = 8;

double nowKey()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

} // namespace

void main::createHistory()
{
    recordsFolderPath =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/runs");

    trend = new TrendPlot(this);
    nameControl(trend, QStringLiteral("trend"), QStringLiteral("Temperature trend"));
    trend->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(trend, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { showContextMenu(trend->mapToGlobal(at)); });

    noReply = new QLabel(this);
    nameControl(noReply, QStringLiteral("noReply"), QStringLiteral("Controller silence"));
    QPalette palette = noReply->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    palette.setColor(QPalette::Window, QColor(255, 255, 255, 220));
    noReply->setPalette(palette);
    noReply->setAutoFillBackground(true);
    noReply->setAlignment(Qt::AlignCenter);
    noReply->hide();

    runRecord = new RunRecord(this);
    connect(runRecord, &RunRecord::failed, this, [](const QString &path, const QString &reason) {
        // pumps events: tick and replies may run here
        basicutilities::alertWhenFree(
            QStringLiteral("Run record error"),
            QStringLiteral("The run record %1 could not be written: %2. The run goes on "
                           "without a record.")
                .arg(path, reason),
            0);
    });

    // The step machine shows the phase and the cycle only in these fields.
    connect(cyclemode, &QLineEdit::textChanged, this, &main::notePhase);
    connect(cycles[1], &QLineEdit::textChanged, this, &main::noteCycle);
    placeHistory();
}

void main::placeHistory()
{
    const qreal dpi = designDpi(this);
    const int margin = twips(bandMarginTwips, dpi);
    const int top = twips(bandTopTwips, dpi) + ruleClearancePx;
    trend->setGeometry(margin, top, width() - 2 * margin, height() - top - margin);
    noReply->adjustSize();
    noReply->move(trend->x() + (trend->width() - noReply->width()) / 2, top + margin);
    noReply->raise();
}

void main::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeHistory();
}

void main::setRecordsFolder(const QString &folder)
{
    recordsFolderPath = folder;
}

void main::noteReply(const Reply &reply)
{
    if (reply.kind == Reply::BadCrc)
        return; // noise, or a controller in trouble: not a reply that was heard
    lastHeard = QDateTime::currentDateTime();
    if (unansweredPolls >= 0)
        unansweredPolls = 0;
    if (silent)
        silenceEnds();
    if (reply.kind != Reply::Temperature)
        return;
    const double celsius = reply.value / 10.0;
    trend->addReading(nowKey(), celsius, unansweredPolls >= 0);
    recordRow(QString(), celsius);
}

void main::noteSent(const QByteArray &frame)
{
    // What went out on the line, so that a refused or unsent command never shows as sent.
    if (frame.size() != setpointFrameSize || frame[1] != char(6) ||
        quint8(frame[2]) != setpointRegister >> 8 || quint8(frame[3]) != (setpointRegister & 0xff))
        return;
    const qint16 tenths = qint16(quint16(quint8(frame[4])) << 8 | quint8(frame[5]));
    lastSetpointSent = tenths / 10.0;
    trend->addSetpoint(nowKey(), lastSetpointSent);
    recordRow(QStringLiteral("setpoint sent"), RunRow::none);
}

void main::notePoll()
{
    if (unansweredPolls < 0) {
        // polling begins now: the time it was off says nothing about the controller
        unansweredPolls = 0;
        lastHeard = QDateTime::currentDateTime();
    }
    if (unansweredPolls >= silentPolls && !silent) {
        silent = true;
        noReply->setText(QStringLiteral("No reply from the controller since %1")
                             .arg(lastHeard.time().toString(QStringLiteral("HH:mm:ss"))));
        placeHistory();
        noReply->show();
        trend->addGap(nowKey());
        recordRow(QStringLiteral("no reply"), RunRow::none);
    }
    ++unansweredPolls;
}

void main::notePollingOff()
{
    if (unansweredPolls >= 0)
        trend->addGap(nowKey()); // no line across a time when nothing was asked
    unansweredPolls = -1;
    if (silent)
        silenceEnds();
}

void main::silenceEnds()
{
    silent = false;
    noReply->hide();
    recordRow(QStringLiteral("replies again"), RunRow::none);
}

void main::notePhase()
{
    trend->setPhase(nowKey(), cyclemode->text());
    recordRow(QStringLiteral("phase change"), RunRow::none);
}

void main::noteCycle()
{
    if (!cyclerun->isChecked() || readnumber(cycles[1]->text()) <= 0)
        return; // the counter set back to 0 begins nothing
    trend->addCycleMark(nowKey());
    recordRow(QStringLiteral("new cycle"), RunRow::none);
}

void main::beginRunRecord()
{
    // "Run" ticked again inside the pause of a stop: the stop never came back to end its record
    if (runRecord->recording()) {
        recordRow(QStringLiteral("stopped by the operator"), RunRow::none);
        runRecord->end();
    }
    RunProfile profile;
    profile.port = portselect->currentText();
    profile.started = QDateTime::currentDateTime();
    for (int i = 0; i < 4; ++i) {
        profile.setpoints[i] = writenumber(readnumber(setpoints[i]->text()), 1);
        profile.dwells[i] =
            writenumber(readnumber(tmult->text()) * readnumber(dwells[i]->text()), 0);
    }
    profile.used = {true, true, rampenable[0]->isChecked(), rampenable[1]->isChecked()};
    profile.cycles = writenumber(readnumber(cycles[0]->text()), 0);
    runCompleted = false;
    runClock.start();
    runRecord->begin(recordsFolderPath, profile, QStringLiteral(CHAMBERCTL_VERSION));
    recordRow(QStringLiteral("run started"), RunRow::none);
}

main::RunEnding main::runEnding(const QString &reason) const
{
    if (!reason.isEmpty())
        return {reason, runsBegun};
    if (losingPort)
        return {QStringLiteral("port lost"), runsBegun};
    if (runCompleted)
        return {QStringLiteral("completed"), runsBegun};
    return {QStringLiteral("stopped by the operator"), runsBegun};
}

void main::endRunRecord(const RunEnding &ending)
{
    // a run begun again inside the stop's pause has a record of its own
    if (ending.run != runsBegun || !runRecord->recording())
        return;
    recordRow(ending.reason, RunRow::none);
    runRecord->end();
}

void main::recordRow(const QString &event, double temperature)
{
    if (!runRecord->recording())
        return;
    RunRow row;
    row.when = QDateTime::currentDateTime();
    row.elapsedSeconds = runClock.elapsed() / 1000.0;
    row.temperature = temperature;
    row.setpoint = lastSetpointSent;
    row.phase = cyclemode->text();
    row.cycle = cycles[1]->text();
    row.errors = errorcount->text();
    row.event = event;
    runRecord->add(row);
}

} // namespace chamber

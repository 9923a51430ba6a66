// What the window tells of what it does: the facts of the line and of each run, told to the
// readers (the trend, the run record and whatever else is attached), and a silent controller.
#include "main/main.h"

#include "band/band.h"
#include "link/frames.h"
#include "link/replies.h"
#include "record/manualrecord.h"
#include "record/runrecord.h"
#include "report/recordview.h"
#include "report/reportmaker.h"
#include "run/runfeed.h"
#include "trend/trendplot.h"
#include "util/basicutilities.h"
#include "util/design.h"
#include "util/numbertext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>

namespace chamber {

namespace {

// The band below the rule that closes the cycle row is ours.
constexpr int bandTopTwips = 4800;
constexpr int bandMarginTwips = 60;
constexpr int ruleClearancePx = 3; // the rule is 3 pixels thick
// 2 s of the 250 ms tick: this many polls in a row unanswered means the controller is silent.
constexpr int silentPolls = 8;
constexpr int setpointFrameSize = 8;

} // namespace

void main::createHistory()
{
    feed = new RunFeed(this);
    band = new Band(this);

    noReply = new Notice(QStringLiteral("noReply"), Notice::Warning);
    band->addLine(noReply);
    setpointUnconfirmed = new Notice(QStringLiteral("setpointUnconfirmed"), Notice::Warning);
    band->addLine(setpointUnconfirmed);

    trend = new TrendPlot;
    nameControl(trend, QStringLiteral("trend"), QStringLiteral("Temperature trend"));
    trend->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(trend, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { showContextMenu(trend->mapToGlobal(at)); });
    connect(feed, &RunFeed::fact, trend, &TrendPlot::take);
    trendViews = new RecordView(trend);
    band->setTrend(trendViews);
    connect(trendViews, &RecordView::failed, this, [](const QString &path, const QString &reason) {
        basicutilities::alertWhenFree(
            QStringLiteral("Run record error"),
            QStringLiteral("The run record %1 could not be read: %2.").arg(path, reason), 0);
    });

    runRecord = new RunRecord(this);
    runRecord->setFolder(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                         QStringLiteral("/runs"));
    connect(feed, &RunFeed::fact, runRecord, &RunRecord::take);
    connect(runRecord, &RunRecord::failed, this, [](const QString &path, const QString &reason) {
        // never inside the tick: a run goes on while the operator reads this
        basicutilities::alertWhenFree(
            QStringLiteral("Run record error"),
            QStringLiteral("The run record %1 could not be written: %2. The run goes on "
                           "without a record.")
                .arg(path, reason),
            0);
    });

    manualRecord = new ManualRecord(runRecord, this);
    manualRecord->setDescription([this] { return setupNow(); });
    connect(feed, &RunFeed::fact, manualRecord, &ManualRecord::take);
    connect(manualRecord, &ManualRecord::failed, this,
            [](const QString &path, const QString &reason) {
                basicutilities::alertWhenFree(
                    QStringLiteral("Manual record error"),
                    QStringLiteral("The manual record %1 could not be written: %2. Readings go on "
                                   "without a record.")
                        .arg(path, reason),
                    0);
            });

    // Each run's report, made once its record is whole on disk: never in the tick, nor on its
    // thread.
    reports = new ReportMaker(this);
    connect(runRecord, &RunRecord::closed, reports, &ReportMaker::make);
    connect(reports, &ReportMaker::failed, this, [](const QString &record, const QString &reason) {
        basicutilities::alertWhenFree(
            QStringLiteral("Run report error"),
            QStringLiteral("The report of the run record %1 could not be made: %2.")
                .arg(record, reason),
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
    band->setGeometry(margin, top, width() - 2 * margin, height() - top - margin);
}

void main::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeHistory();
}

void main::setRecordsFolder(const QString &folder)
{
    runRecord->setFolder(folder);
}

QString main::recordsFolder() const
{
    return runRecord->folder();
}

RunFeed *main::runFeed() const
{
    return feed;
}

Band *main::lowerBand() const
{
    return band;
}

void main::setReportProgram(const QString &program)
{
    reports->setProgram(program);
}

void main::setRunSigner(const QString &operatorName, const QString &testId)
{
    runOperator = operatorName;
    runTestId = testId;
}

RunFact main::factNow(RunFact::Kind kind, const QString &text) const
{
    RunFact fact;
    fact.kind = kind;
    fact.text = text;
    fact.setpoint = lastSetpointSent;
    fact.phase = cyclemode->text();
    fact.cycle = int(readnumber(cycles[1]->text()));
    fact.errors = int(readnumber(errorcount->text()));
    fact.point = feed->running() ? runPoint : -1;
    fact.dwellLeft = dwellcount;
    return fact;
}

void main::tell(RunFact::Kind kind, const QString &text)
{
    feed->tell(factNow(kind, text));
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
    resumeHeard = true;
    RunFact fact = factNow(unansweredPolls >= 0 ? RunFact::Reading : RunFact::SingleReading);
    fact.temperature = reply.value / 10.0;
    feed->tell(fact);
}

void main::noteSent(const QByteArray &frame)
{
    // What went out on the line, so that a refused or unsent command never shows as sent.
    if (frame.size() != setpointFrameSize || frame[1] != char(6) ||
        quint8(frame[2]) != setpointRegister >> 8 || quint8(frame[3]) != (setpointRegister & 0xff))
        return;
    const qint16 tenths = qint16(quint16(quint8(frame[4])) << 8 | quint8(frame[5]));
    lastSetpointSent = tenths / 10.0;
    if (std::exchange(resending, false)) {
        tell(RunFact::Event, QStringLiteral("setpoint resent"));
        return;
    }
    pendingWrite.sent(tenths);
    ++setpointsSent;
    tell(RunFact::SetpointSent);
}

void main::noteWrite(const PendingWrite::Verdict &verdict)
{
    if (verdict.kind == PendingWrite::Verdict::Confirmed) {
        setpointUnconfirmed->say(QString());
    } else if (verdict.kind == PendingWrite::Verdict::Unconfirmed) {
        setpointUnconfirmed->say(
            QStringLiteral("Setpoint %1 °C not confirmed by the controller at %2")
                .arg(writenumber(verdict.tenths / 10.0, 1),
                     QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
        tell(RunFact::Event, QStringLiteral("setpoint not confirmed"));
    }
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
        noReply->say(QStringLiteral("No reply from the controller since %1")
                         .arg(lastHeard.time().toString(QStringLiteral("HH:mm:ss"))));
        tell(RunFact::Event, QStringLiteral("no reply"));
    }
    ++unansweredPolls;
}

void main::notePollingOff()
{
    if (unansweredPolls >= 0)
        tell(RunFact::Gap); // no line across a time when nothing was asked
    unansweredPolls = -1;
    if (silent)
        silenceEnds();
}

void main::silenceEnds()
{
    silent = false;
    noReply->say(QString());
    tell(RunFact::Event, QStringLiteral("replies again"));
}

void main::notePhase()
{
    tell(RunFact::Phase);
}

void main::noteCycle()
{
    if (!cyclerun->isChecked() || readnumber(cycles[1]->text()) <= 0)
        return; // the counter set back to 0 begins nothing
    tell(RunFact::Cycle);
}

RunSetup main::setupNow() const
{
    RunSetup setup;
    setup.version = QStringLiteral(CHAMBERCTL_VERSION);
    // a run can be begun while no port is open (a failed choice leaves "Run" usable)
    setup.port = portready ? portselect->currentText() : QStringLiteral("none");
    setup.device = portready ? rs232->device(setup.port) : QString();
    setup.started = QDateTime::currentDateTime();
    setup.operatorName = runOperator;
    setup.testId = runTestId;
    return setup;
}

void main::beginRun()
{
    RunSetup setup = setupNow();
    setup.profile = shownProfile();
    if (loadedProfile && loadedProfile->second == setup.profile)
        setup.profileName = QFileInfo(loadedProfile->first).fileName();
    for (double &dwell : setup.profile.dwells)
        dwell *= readnumber(tmult->text()); // the seconds the run counts
    runCompleted = false;
    feed->beginRun(setup, factNow(RunFact::RunBegun));
}

main::RunEnding main::runEnding(const QString &reason) const
{
    if (!reason.isEmpty())
        return {reason, runsBegun};
    if (losingPort)
        return {QStringLiteral("port lost"), runsBegun};
    if (alarmEnding)
        return {QStringLiteral("ended by alarm"), runsBegun};
    if (runCompleted)
        return {QStringLiteral("completed"), runsBegun};
    return {QStringLiteral("stopped by the operator"), runsBegun};
}

void main::endRun(const RunEnding &ending)
{
    // a run begun again inside the stop's pause has a record of its own
    if (ending.run != runsBegun || !feed->running())
        return;
    feed->endRun(factNow(RunFact::RunEnded, ending.reason));
}

} // namespace chamber

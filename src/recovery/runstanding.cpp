// Where an unended run stood: its record's last rows read through the report's analysis.
#include "recovery/runstanding.h"

#include "record/recordfile.h"
#include "record/recordwriter.h"
#include "report/runanalysis.h"
#include "util/numbertext.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <functional>

namespace chamber {

QString RunStanding::description() const
{
    const QString begun = setup.started.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    // the day too, once the run has gone past midnight
    const QString last = lastRow.toString(lastRow.date() == setup.started.date()
                                              ? QStringLiteral("HH:mm:ss")
                                              : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QString where;
    if (point < 0) {
        where = QStringLiteral("before its first point");
    } else {
        where = QStringLiteral("cycle %1").arg(cycle);
        if (cannotResume.isEmpty())
            where += QStringLiteral(" of %1").arg(writenumber(setup.profile.cycles, 0));
        where += QStringLiteral(", point %1, %2").arg(point + 1).arg(phase);
        if (dwelling && cannotResume.isEmpty())
            where += QStringLiteral(" (%1 s of %2 left)")
                         .arg(dwellLeftS)
                         .arg(writenumber(dwellPlannedS, 0));
    }
    const QString sent = std::isnan(setpointSentC)
                             ? QStringLiteral("no setpoint was sent to the controller in it")
                             : QStringLiteral("the controller was last sent %1 °C")
                                   .arg(writenumber(setpointSentC, 1));
    return QStringLiteral("The run begun %1 on %2 did not end. Its last row, %3, was %4; %5.")
        .arg(begun, setup.port, last, where, sent);
}

QString RunStanding::resumedEvent(const QDateTime &now) const
{
    return QStringLiteral("%1, gap %2 s")
        .arg(restartEvents::resumed)
        .arg(std::max<qint64>(0, lastRow.secsTo(now)));
}

double RunStanding::elapsedAt(const QDateTime &now) const
{
    return lastElapsedS + std::max<qint64>(0, lastRow.msecsTo(now)) / 1000.0;
}

RunFact RunStanding::endRow(const QDateTime &now, const QString &ending, double setpointC) const
{
    RunFact row;
    row.kind = RunFact::RunEnded;
    row.inRun = true;
    row.when = now;
    row.elapsedSeconds = elapsedAt(now);
    row.setpoint = std::isnan(setpointC) ? setpointSentC : setpointC;
    row.phase = std::isnan(setpointC) ? phase : QStringLiteral("Hold");
    row.cycle = cycle;
    row.errors = errors;
    row.point = point;
    row.text = ending;
    return row;
}

namespace {

// The standing of the record that read() parses, handing each row to the reader it is given.
std::optional<RunStanding>
standingOf(const QString &path,
           const std::function<std::optional<RecordFile>(const RowReader &)> &read)
{
    RunAnalysis analysis;
    RunFact last;
    bool begun = false;
    const auto record = read([&](const RunFact &row) {
        begun = begun || row.kind == RunFact::RunBegun;
        analysis.take(row);
        last = row;
    });
    if (!record)
        return std::nullopt;
    if (record->manual || record->ended || !begun)
        return std::nullopt;
    analysis.finish();

    RunStanding s;
    s.record = path;
    s.setup = record->setup;
    s.cannotResume = record->setupError;
    s.wholeBytes = record->wholeBytes;
    s.lastRow = last.when;
    s.lastElapsedS = last.elapsedSeconds;
    s.cycle = last.cycle;
    s.point = last.point;
    s.phase = last.phase;
    s.setpointSentC = last.setpoint;
    s.errors = last.errors;
    if (!analysis.points().isEmpty() && s.cannotResume.isEmpty()) {
        // records of 0.2.0 do not name their points: the analysis infers them
        const PointFigures &p = analysis.points().last();
        s.point = p.point;
        s.cycle = p.cycle;
        s.dwellPlannedS = p.dwellPlannedS;
        s.dwelling = p.reached;
        double held = p.dwellHeldS;
        if (record->setup.profile.conditions.guaranteedSoak)
            held = p.inBandS.value_or(0);
        s.dwellLeftS = p.reached ? std::llround(std::max(0.0, p.dwellPlannedS - held))
                                 : std::llround(p.dwellPlannedS);
    }
    return s;
}

} // namespace

std::optional<RunStanding> runStanding(const QString &path, const QByteArray &text, QString &error)
{
    return standingOf(path,
                      [&](const RowReader &onRow) { return parseRecord(text, error, onRow); });
}

std::optional<RunStanding> unendedRun(const QString &folder, QString &error)
{
    QStringList names = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files);
    // named by their start: the newest first
    std::sort(names.begin(), names.end(), std::greater<>());
    for (const QString &name : names) {
        if (name.contains(QLatin1String("_manual")))
            continue;
        const QString path = QDir(folder).filePath(name);
        if (recordInUse(path))
            continue; // another chamberctl's run, under way
        QString why;
        auto standing =
            standingOf(path, [&](const RowReader &onRow) { return readRecord(path, why, onRow); });
        if (!why.isEmpty())
            error = QStringLiteral("%1: %2").arg(path, why);
        return standing;
    }
    return std::nullopt;
}

} // namespace chamber

// The run record's file format, and the runs' records handed to the writer thread.
#include "record/runrecord.h"

#include "util/numbertext.h"

#include <QCoreApplication>

#include <cmath>

namespace chamber {

namespace {

// Quotes a field only when it holds a separator, a quote or a line break.
QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString celsius(double value)
{
    return std::isnan(value) ? QString() : writenumber(value, 1);
}

} // namespace

QString recordFileName(const QDateTime &started, const QString &port)
{
    QString safePort = port;
    for (QChar &c : safePort) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    }
    const QDate d = started.date();
    const QTime t = started.time();
    return QString::asprintf("%04d-%02d-%02dT%02d-%02d-%02d_", d.year(), d.month(), d.day(),
                             t.hour(), t.minute(), t.second()) +
           safePort + QStringLiteral(".csv");
}

QString isoLocalTime(const QDateTime &when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int magnitude = std::abs(offsetMinutes);
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", d.year(), d.month(),
                             d.day(), t.hour(), t.minute(), t.second(), t.msec(),
                             offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

QByteArray recordPreamble(const RunSetup &setup, bool manual)
{
    QString text =
        QStringLiteral("# chamberctl %1 %2 record\n")
            .arg(setup.version, manual ? QStringLiteral("manual") : QStringLiteral("run"));
    text += QStringLiteral("# port: %1\n").arg(setup.port);
    if (!setup.device.isEmpty())
        text += QStringLiteral("# device: %1\n").arg(setup.device);
    text += QStringLiteral("# started: %1\n").arg(isoLocalTime(setup.started));
    if (!setup.profileName.isEmpty())
        text += QStringLiteral("# profile: %1\n").arg(setup.profileName);
    if (!setup.operatorName.isEmpty())
        text += QStringLiteral("# operator: %1\n").arg(setup.operatorName);
    if (!setup.testId.isEmpty())
        text += QStringLiteral("# test id: %1\n").arg(setup.testId);
    const Profile &profile = setup.profile;
    for (int i = 0; i < 4 && !manual; ++i) {
        text +=
            QStringLiteral("# point %1: setpoint %2 C, dwell %3 s, %4\n")
                .arg(i + 1)
                .arg(writenumber(profile.setpoints[i], 1), writenumber(profile.dwells[i], 0),
                     profile.usePoints[i] ? QStringLiteral("used") : QStringLiteral("not used"));
    }
    if (!manual)
        text += QStringLiteral("# cycles: %1\n").arg(writenumber(profile.cycles, 0));
    if (!manual && profile.conditions.any())
        text += QStringLiteral("# conditions: %1\n")
                    .arg(QString::fromUtf8(conditionsLine(profile.conditions)));
    // a line break in a name would begin a row of its own
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text.toUtf8();
}

QByteArray recordHeader()
{
    return QByteArrayLiteral("time,elapsed_s,temperature_C,setpoint_C,phase,cycle,errors,event\n");
}

QByteArray recordLine(const RunFact &fact)
{
    if (fact.kind == RunFact::Gap)
        return {};
    const QStringList fields = {
        isoLocalTime(fact.when),      QString::asprintf("%.3f", fact.elapsedSeconds),
        celsius(fact.temperature),    celsius(fact.setpoint),
        csvField(fact.phase),         QString::number(fact.cycle),
        QString::number(fact.errors), csvField(factEvent(fact))};
    return (fields.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
}

RunRecord::RunRecord(QObject *parent)
    : QObject(parent)
    , writer_(new RecordWriter(this))
{
    connect(writer_, &RecordWriter::failed, this,
            [this](int written, const QString &path, const QString &reason) {
                if (files.contains(written))
                    emit failed(path, reason);
            });
    connect(writer_, &RecordWriter::closed, this, [this](int written, const QString &path) {
        if (files.remove(written))
            emit closed(path);
    });
}

RunRecord::~RunRecord()
{
    end();
}

void RunRecord::take(const RunFact &fact)
{
    if (!fact.inRun)
        return;
    if (fact.kind == RunFact::RunBegun) {
        end();
        if (const auto &resumed = fact.setup->resumed)
            file = writer_->append(resumed->record, resumed->wholeBytes);
        else
            file = writer_->open(folder_, recordFileName(fact.setup->started, fact.setup->port),
                                 recordPreamble(*fact.setup) + recordHeader());
        files.insert(file);
    }
    if (file != 0) {
        const QByteArray line = recordLine(fact);
        if (!line.isEmpty())
            writer_->write(file, line);
    }
    if (fact.kind == RunFact::RunEnded)
        end();
}

void RunRecord::endAfterRestart(const QString &path, qint64 wholeBytes, const RunFact &ending)
{
    const int written = writer_->append(path, wholeBytes);
    files.insert(written);
    writer_->write(written, recordLine(ending));
    writer_->close(written);
}

void RunRecord::end()
{
    if (file == 0)
        return;
    writer_->close(file);
    file = 0;
}

void RunRecord::waitWritten()
{
    writer_->waitWritten();
    // what the writer has to say of it, said now rather than in a turn of the event loop that an
    // ending program may never take
    QCoreApplication::sendPostedEvents(writer_, QEvent::MetaCall);
}

} // namespace chamber

#include "moc_runrecord.cpp"

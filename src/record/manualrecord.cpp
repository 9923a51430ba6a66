// Manual work on disk: each stretch of polling outside a run, row by row.
#include "record/manualrecord.h"

#include "record/runrecord.h"

namespace chamber {

ManualRecord::ManualRecord(RunRecord *runs, QObject *parent)
    : QObject(parent)
    , runs(runs)
    , writer(runs->writer())
{
    connect(writer, &RecordWriter::failed, this,
            [this](int written, const QString &path, const QString &reason) {
                if (written == file)
                    emit failed(path, reason);
            });
}

void ManualRecord::take(const RunFact &fact)
{
    if (fact.inRun || fact.kind == RunFact::Gap) {
        end(); // a run has records of its own; a gap is the end of polling
        return;
    }
    if (!writer || !runs)
        return;
    if (file == 0) {
        if (fact.kind != RunFact::Reading)
            return; // nothing is polled yet
        RunSetup setup = description ? description() : RunSetup();
        setup.started = fact.when;
        file = writer->open(runs->folder(),
                            recordFileName(setup.started, setup.port).chopped(4) +
                                QStringLiteral("_manual.csv"),
                            recordPreamble(setup, true) + recordHeader());
        sinceStart.start();
    }
    RunFact row = fact;
    row.elapsedSeconds = sinceStart.elapsed() / 1000.0;
    const QByteArray line = recordLine(row);
    if (!line.isEmpty())
        writer->write(file, line);
}

void ManualRecord::end()
{
    if (file == 0)
        return;
    if (writer)
        writer->close(file);
    file = 0;
}

} // namespace chamber

#include "moc_manualrecord.cpp"

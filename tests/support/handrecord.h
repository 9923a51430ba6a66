// Run records made by hand: a run begun 2026-12-06 14:00:00 +01:00 on COM1 (/dev/ttyUSB0).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>

namespace chamber {

// The record's comment lines after its start (the points, the cycles, any conditions), then rows
// written as "elapsed temperature setpoint phase cycle errors event", "-" for an empty field;
// without namesPoints the events "approaching point N" are left out, as 0.2.0 wrote none.
inline QByteArray handRecord(const QByteArray &comments, const QList<QByteArray> &rows,
                             bool namesPoints = true)
{
    const QDateTime start =
        QDateTime::fromString("2026-12-06T14:00:00.000+01:00", Qt::ISODateWithMs);
    QByteArray text = "# chamberctl 0.3.0 run record\n# port: COM1\n# device: /dev/ttyUSB0\n"
                      "# started: 2026-12-06T14:00:00.000+01:00\n" +
                      comments +
                      "time,elapsed_s,temperature_C,setpoint_C,phase,cycle,errors,event\n";
    for (const QByteArray &row : rows) {
        const QList<QByteArray> f = row.split(' ');
        QByteArray event = f.mid(6).join(' ');
        if (!namesPoints && event.startsWith("approaching"))
            continue;
        if (event.contains(','))
            event = '"' + event + '"';
        const auto field = [&](int i) { return f[i] == "-" ? QByteArray() : f[i]; };
        const double elapsed = f[0].toDouble();
        text += start.addMSecs(qint64(elapsed * 1000))
                    .toOffsetFromUtc(3600)
                    .toString(Qt::ISODateWithMs)
                    .toLatin1() +
                "," + QByteArray::number(elapsed, 'f', 3) + "," + field(1) + "," + field(2) + "," +
                f[3] + "," + f[4] + "," + f[5] + "," + event + "\n";
    }
    return text;
}

} // namespace chamber

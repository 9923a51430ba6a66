// Reading run records back, quickly enough for a day of readings and safely for a damaged file.
#include "record/recordfile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <cmath>

namespace chamber {

namespace {

constexpr int fieldCount = 8;
const QByteArray headerLine = "time,elapsed_s,temperature_C,setpoint_C,phase,cycle,errors,event";

// Days from 1970-01-01 to the civil date y-m-d (proleptic Gregorian), without QDate's overhead.
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}

// Digits at text[from, from + count) as a number; -1 unless all are digits.
int digits(const QByteArray &text, qsizetype from, int count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char c = text.at(i);
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "2026-12-06T14:02:31.250+01:00", exactly as records write it.
std::optional<QDateTime> isoTime(const QByteArray &text)
{
    if (text.size() != 29 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.' ||
        (text[23] != '+' && text[23] != '-') || text[26] != ':')
        return std::nullopt;
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2),
              second = digits(text, 17, 2);
    const int ms = digits(text, 20, 3), offH = digits(text, 24, 2), offM = digits(text, 27, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60 || ms < 0 || offH < 0 || offH > 23 ||
        offM < 0 || offM > 59)
        return std::nullopt;
    const int offset = (text[23] == '-' ? -1 : 1) * (offH * 3600 + offM * 60);
    const qint64 local =
        ((daysFromCivil(year, unsigned(month), unsigned(day)) * 24 + hour) * 60 + minute) * 60 +
        second;
    return QDateTime::fromMSecsSinceEpoch((local - offset) * 1000 + ms, Qt::OffsetFromUTC, offset);
}

// The fields of one row; a quoted field may hold commas and doubled quotes.
bool splitRow(const QByteArray &line, std::array<QByteArray, fieldCount> &fields)
{
    int n = 0;
    qsizetype at = 0;
    for (;;) {
        QByteArray field;
        if (at < line.size() && line[at] == '"') {
            for (++at;; ++at) {
                if (at >= line.size())
                    return false; // the quote never closes
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        field += '"';
                        ++at;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += line[at];
            }
        } else {
            const qsizetype comma = line.indexOf(',', at);
            const qsizetype end = comma < 0 ? line.size() : comma;
            field = line.mid(at, end - at);
            at = end;
        }
        fields[n++] = field;
        if (n == fieldCount)
            return at == line.size(); // a ninth field is not ours
        if (at >= line.size() || line[at] != ',')
            return false;
        ++at;
    }
    return false;
}

// The four state words share one copy each.
QString phaseWord(const QByteArray &text)
{
    static const QString words[] = {QStringLiteral("Hold"), QStringLiteral("Heat"),
                                    QStringLiteral("Cool"), QStringLiteral("Wait")};
    for (const QString &word : words) {
        if (text == word.toLatin1())
            return word;
    }
    return QString::fromUtf8(text);
}

std::optional<double> celsiusField(const QByteArray &text, bool &ok)
{
    if (text.isEmpty())
        return RunFact::none;
    const double value = text.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

// "# point 2: setpoint 25.0 C, dwell 300 s, used"
bool readPoint(const QString &value, Profile &profile, int index)
{
    static const QRegularExpression pattern(
        QStringLiteral("^setpoint (-?\\d+(?:\\.\\d+)?) C, dwell (\\d+) s, (used|not used)$"));
    const QRegularExpressionMatch match = pattern.match(value);
    if (!match.hasMatch())
        return false;
    profile.setpoints[index] = match.captured(1).toDouble();
    profile.dwells[index] = match.captured(2).toDouble();
    profile.usePoints[index] = match.captured(3) == QLatin1String("used");
    return true;
}

} // namespace

std::optional<RecordFile> parseRecord(const QByteArray &text, QString &error,
                                      const RowReader &onRow)
{
    RecordFile record;
    std::array<bool, 4> pointsRead{};
    bool cyclesRead = false;
    bool headerSeen = false;
    QString setupFault; // the first line that spoils the profile
    int lineNumber = 0;
    const auto spoil = [&](const QString &why) {
        if (setupFault.isEmpty())
            setupFault = QStringLiteral("line %1: %2").arg(lineNumber).arg(why);
    };
    auto setup = std::make_shared<RunSetup>();
    qsizetype at = 0;
    bool inRun = false;
    int point = -1; // from the last "approaching point N"; records of 0.2.0 do not say it
    const QString approaching = QStringLiteral("approaching point ");
    while (at < text.size()) {
        const qsizetype newline = text.indexOf('\n', at);
        if (newline < 0) {
            record.torn = true; // cut by a crash: not a whole row
            break;
        }
        QByteArray line = text.mid(at, newline - at);
        at = newline + 1;
        ++lineNumber;
        if (line.endsWith('\r'))
            line.chop(1);
        const auto fail = [&](const QString &what) {
            error = QStringLiteral("line %1: %2").arg(lineNumber).arg(what);
            return std::nullopt;
        };
        if (!headerSeen) {
            if (line == headerLine) {
                headerSeen = true;
                continue;
            }
            if (!line.startsWith("# "))
                return fail(lineNumber == 1 ? QStringLiteral("not a chamberctl run record")
                                            : QStringLiteral("a row before the column names"));
            const QString comment = QString::fromUtf8(line.mid(2));
            if (lineNumber == 1) {
                static const QRegularExpression first(
                    QStringLiteral("^chamberctl (\\S+) (run|manual) record$"));
                const QRegularExpressionMatch match = first.match(comment);
                if (!match.hasMatch())
                    return fail(QStringLiteral("not a chamberctl run record"));
                setup->version = match.captured(1);
                record.manual = match.captured(2) == QLatin1String("manual");
                continue;
            }
            const qsizetype colon = comment.indexOf(QStringLiteral(": "));
            const QString key = comment.left(colon);
            const QString value = colon < 0 ? QString() : comment.mid(colon + 2);
            if (key == QLatin1String("port")) {
                setup->port = value;
            } else if (key == QLatin1String("device")) {
                setup->device = value;
            } else if (key == QLatin1String("started")) {
                const auto started = isoTime(value.toLatin1());
                if (!started)
                    return fail(QStringLiteral("the start time cannot be read"));
                setup->started = *started;
            } else if (key == QLatin1String("profile")) {
                setup->profileName = value;
            } else if (key == QLatin1String("operator")) {
                setup->operatorName = value;
            } else if (key == QLatin1String("test id")) {
                setup->testId = value;
            } else if (key.startsWith(QLatin1String("point "))) {
                const int index = key.mid(6).toInt() - 1;
                if (index < 0 || index > 3 || !readPoint(value, setup->profile, index))
                    spoil(QStringLiteral("the point cannot be read"));
                else
                    pointsRead[index] = true;
            } else if (key == QLatin1String("cycles")) {
                bool ok = false;
                setup->profile.cycles = value.toInt(&ok);
                cyclesRead = ok;
                if (!ok)
                    spoil(QStringLiteral("the cycles cannot be read"));
            } else if (key == QLatin1String("conditions")) {
                QString why;
                const auto conditions = parseConditionsLine(value.toUtf8(), why);
                if (conditions)
                    setup->profile.conditions = *conditions;
                else
                    spoil(why);
            } // other comment lines come from newer versions: not ours to judge
            continue;
        }

        if (line.isEmpty())
            continue;
        std::array<QByteArray, fieldCount> fields;
        if (!splitRow(line, fields))
            return fail(QStringLiteral("a row must have 8 fields"));
        RunFact row;
        const auto when = isoTime(fields[0]);
        if (!when)
            return fail(QStringLiteral("the time cannot be read"));
        row.when = *when;
        bool ok = true;
        row.elapsedSeconds = fields[1].toDouble(&ok);
        const auto temperature = celsiusField(fields[2], ok);
        const auto setpoint = ok ? celsiusField(fields[3], ok) : std::nullopt;
        if (!ok || !temperature || !setpoint)
            return fail(QStringLiteral("a number cannot be read"));
        row.temperature = *temperature;
        row.setpoint = *setpoint;
        row.phase = phaseWord(fields[4]);
        row.cycle = fields[5].toInt(&ok);
        if (ok)
            row.errors = fields[6].toInt(&ok);
        if (!ok)
            return fail(QStringLiteral("a number cannot be read"));
        row.text = fields[7].isEmpty() ? QString() : QString::fromUtf8(fields[7]);
        row.kind = factKind(row.text);
        if (row.kind == RunFact::RunBegun)
            point = -1;
        if (row.kind == RunFact::Event && row.text.startsWith(approaching))
            point = QStringView(row.text).mid(approaching.size()).toInt() - 1;
        row.point = inRun || row.kind == RunFact::RunBegun ? point : -1;
        if (row.kind == RunFact::Reading && std::isnan(row.temperature))
            return fail(QStringLiteral("a reading without a temperature"));
        if (row.kind == RunFact::RunBegun)
            inRun = true;
        row.inRun = inRun;
        row.setup = setup;
        record.ended = row.kind == RunFact::RunEnded;
        if (record.ended)
            inRun = false;
        ++record.rowCount;
        if (onRow)
            onRow(row);
        else
            record.rows.append(row);
    }
    if (!headerSeen) {
        error = record.torn || lineNumber > 0
                    ? QStringLiteral("line %1: the column names are missing").arg(lineNumber + 1)
                    : QStringLiteral("the file is empty");
        return std::nullopt;
    }
    record.wholeBytes = at;
    if (setupFault.isEmpty() && !record.manual &&
        (!pointsRead[0] || !pointsRead[1] || !pointsRead[2] || !pointsRead[3] || !cyclesRead))
        setupFault = QStringLiteral("the record does not say the whole profile");
    record.setupError = setupFault;
    record.setup = *setup;
    return record;
}

std::optional<RecordFile> readRecord(const QString &path, QString &error, const RowReader &onRow)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        error = QStringLiteral("it is not a file");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return std::nullopt;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
    return parseRecord(text, error, onRow);
}

} // namespace chamber

// The run report on A4 (QPdfWriter and the run's plot as vectors) and its JSON summary.
#include "report/runreport.h"

#include "record/recordfile.h"
#include "record/runrecord.h"
#include "report/runanalysis.h"
#include "report/runplot.h"
#include "util/numbertext.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QPdfWriter>
#include <QSaveFile>

#include <cmath>

namespace chamber {

namespace {

// Layout units: 1/96 inch, so that the plot's fonts and pens keep the proportions they have on
// a screen.
constexpr int unitsPerInch = 96;
constexpr double mm = unitsPerInch / 25.4;
constexpr double pageWidth = 210 * mm;
constexpr double pageHeight = 297 * mm;
constexpr double margin = 15 * mm;
constexpr double contentWidth = pageWidth - 2 * margin;
constexpr double footerTop = pageHeight - margin + 3 * mm;
constexpr double keyWidth = 36 * mm;
constexpr double plotHeight = 92 * mm;
constexpr double rowHeight = 4.6 * mm;
constexpr double headerRowHeight = 8.5 * mm; // three lines of column titles
constexpr int mostReasonsShown = 8;
const QString dash = QStringLiteral("–");

QString dateTimeText(const QDateTime &when)
{
    if (!when.isValid())
        return dash;
    const QString iso = isoLocalTime(when); // 2026-12-06T14:02:31.250+01:00
    return iso.left(10) + QLatin1Char(' ') + iso.mid(11, 8) + QLatin1Char(' ') + iso.mid(23);
}

QString durationText(double seconds)
{
    const qint64 whole = qint64(std::floor(seconds));
    if (whole < 60)
        return QStringLiteral("%1 s").arg(writenumber(seconds, 1));
    const qint64 h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
    if (h == 0)
        return QStringLiteral("%1 min %2 s").arg(m).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min %3 s")
        .arg(h)
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'));
}

QString figure(const std::optional<double> &value, int decimals)
{
    return value ? writenumber(*value, decimals) : dash;
}

QString conditionsText(const RunConditions &c)
{
    QStringList parts;
    if (c.toleranceC)
        parts << QStringLiteral("tolerance ±%1 °C").arg(writenumber(*c.toleranceC, 2));
    if (c.guaranteedSoak)
        parts << QStringLiteral("guaranteed soak");
    if (c.approachLimitS)
        parts << QStringLiteral("approach limit %1 s").arg(writenumber(*c.approachLimitS, 0));
    if (c.deviationDelayS)
        parts << QStringLiteral("out of tolerance after %1 s")
                     .arg(writenumber(*c.deviationDelayS, 0));
    if (c.silenceLimitS)
        parts << QStringLiteral("silence limit %1 s").arg(writenumber(*c.silenceLimitS, 0));
    if (c.endOnAlarm)
        parts << QStringLiteral("an alarm ends the run");
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

QString pointsText(const Profile &profile)
{
    QStringList points;
    for (int i = 0; i < 4; ++i) {
        points << QStringLiteral("%1: %2 °C, %3 s%4")
                      .arg(i + 1)
                      .arg(writenumber(profile.setpoints[i], 1), writenumber(profile.dwells[i], 0),
                           profile.usePoints[i] ? QString() : QStringLiteral(" (not used)"));
    }
    return points.join(QStringLiteral(";  "));
}

struct Column
{
    const char *title;
    double widthShare;
};
// One row per cycle and point.
const Column columns[] = {
    {"Cycle", 0.8},           {"Point", 0.75},         {"Set-\npoint\n°C", 0.9},
    {"Approach\ns", 1.15},    {"Rate\nK/min", 1},      {"Over-\nshoot\n°C", 0.85},
    {"Dwell\nplanned\ns", 1}, {"Dwell\nheld\ns", 1.1}, {"In\nband\ns", 0.9},
    {"Out of\nband\ns", 0.9}, {"Min\n°C", 0.85},       {"Max\n°C", 0.85},
    {"Mean\n°C", 0.95},       {"Alarms", 0.95},        {"Silences", 1.05},
    {"Errors", 0.9},          {"Result", 0.9},
};

QStringList rowCells(const RunAnalysis &analysis, const PointFigures &p)
{
    const auto result = analysis.passed(p);
    QString silences = QString::number(p.silences);
    if (p.silentS > 0)
        silences += QStringLiteral(" (%1 s)").arg(writenumber(p.silentS, 0));
    return {QString::number(p.cycle),
            QString::number(p.point + 1),
            writenumber(p.setpointC, 1),
            writenumber(p.approachS, 1) + (p.reached ? QString() : QStringLiteral(" cut")),
            figure(p.rateKPerMin, 2),
            figure(p.overshootC, 1),
            writenumber(p.dwellPlannedS, 0),
            p.reached ? writenumber(p.dwellHeldS, 1) +
                            (p.dwellComplete ? QString() : QStringLiteral(" cut"))
                      : dash,
            figure(p.inBandS, 1),
            figure(p.outOfBandS, 1),
            figure(p.minC, 1),
            figure(p.maxC, 1),
            figure(p.meanC, 2),
            QString::number(p.alarms.size()),
            silences,
            QString::number(p.errors),
            !result   ? dash
            : *result ? QStringLiteral("pass")
                      : QStringLiteral("FAIL")};
}

// Draws the report page by page, top to bottom.
class Pages
{
public:
    Pages(QPdfWriter &writer, const QString &footer)
        : writer(writer)
        , painter(&writer)
        , footer(footer)
    {
        // as QCustomPlot's own PDF export: vectors, pens that scale with the page
        painter.setMode(QCPPainter::pmVectorized);
        painter.setMode(QCPPainter::pmNoCaching);
        painter.setMode(QCPPainter::pmNonCosmetic);
    }

    QCPPainter &draw() { return painter; }
    bool active() const { return painter.isActive(); }
    double y = margin;
    int page = 1;
    int pages = 1;

    void font(double points, bool bold = false)
    {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPointSizeF(points);
        f.setBold(bold);
        // No ligatures: "fi" stays two letters for whoever searches or copies the report's text.
        f.setStyleStrategy(QFont::PreferNoShaping);
        painter.setFont(f);
    }

    // Text at the cursor in a box of width, wrapped; the cursor moves below it.
    void text(double left, double width, const QString &line, int flags = Qt::AlignLeft)
    {
        const QRectF box(left, y, width, pageHeight);
        const QRectF used = painter.boundingRect(box, flags | Qt::TextWordWrap, line);
        painter.drawText(box, flags | Qt::TextWordWrap, line);
        y += used.height();
    }

    void keyValue(const QString &key, const QString &value)
    {
        font(8.5, true);
        const double top = y;
        text(margin, keyWidth, key);
        const double keyBottom = y;
        y = top;
        font(8.5);
        text(margin + keyWidth, contentWidth - keyWidth, value);
        y = std::max(y, keyBottom) + 0.6 * mm;
    }

    void finishPage()
    {
        font(7);
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(QRectF(margin, footerTop, contentWidth, 6 * mm), Qt::AlignLeft, footer);
        painter.drawText(QRectF(margin, footerTop, contentWidth, 6 * mm), Qt::AlignRight,
                         QStringLiteral("page %1 of %2").arg(page).arg(pages));
        painter.setPen(Qt::black);
    }

    void newPage()
    {
        finishPage();
        writer.newPage();
        ++page;
        y = margin;
    }

private:
    QPdfWriter &writer;
    QCPPainter painter;
    QString footer;
};

void drawVerdict(Pages &pages, const RunAnalysis &analysis)
{
    QString headline;
    QColor colour;
    switch (analysis.verdict()) {
    case RunAnalysis::Verdict::Pass:
        headline = QStringLiteral("Verdict: PASS");
        colour = QColor(0, 140, 0);
        break;
    case RunAnalysis::Verdict::Fail:
        headline = QStringLiteral("Verdict: FAIL");
        colour = QColor(200, 0, 0);
        break;
    case RunAnalysis::Verdict::None:
        headline = QStringLiteral("No verdict: no tolerance was set");
        colour = QColor(110, 110, 110);
        break;
    }
    QStringList lines;
    if (analysis.verdict() == RunAnalysis::Verdict::Pass)
        lines << QStringLiteral("The run completed, and every point of every cycle held its "
                                "dwell within ±%1 °C with no alarm.")
                     .arg(writenumber(*analysis.toleranceC(), 2));
    const QStringList reasons = analysis.failures();
    lines << reasons.mid(0, mostReasonsShown);
    if (reasons.size() > mostReasonsShown)
        lines << QStringLiteral("… and %1 more (see the table).")
                     .arg(reasons.size() - mostReasonsShown);

    QCPPainter &painter = pages.draw();
    const double top = pages.y;
    pages.y += 2 * mm;
    pages.font(12, true);
    painter.setPen(colour);
    pages.text(margin + 3 * mm, contentWidth - 6 * mm, headline);
    painter.setPen(Qt::black);
    pages.font(8.5);
    for (const QString &line : lines)
        pages.text(margin + 3 * mm, contentWidth - 6 * mm, line);
    pages.y += 2 * mm;
    painter.setPen(QPen(colour, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(margin, top, contentWidth, pages.y - top));
    painter.setPen(Qt::black);
    pages.y += 4 * mm;
}

void drawTableHeader(Pages &pages, const std::vector<double> &widths)
{
    QCPPainter &painter = pages.draw();
    pages.font(6, true);
    double x = margin;
    for (size_t i = 0; i < widths.size(); ++i) {
        painter.drawText(QRectF(x, pages.y, widths[i] - 1, headerRowHeight),
                         Qt::AlignRight | Qt::AlignBottom, QString::fromUtf8(columns[i].title));
        x += widths[i];
    }
    pages.y += headerRowHeight + 0.8 * mm;
    painter.drawLine(QPointF(margin, pages.y), QPointF(margin + contentWidth, pages.y));
    pages.y += 0.6 * mm;
}

bool drawReport(QPdfWriter &writer, const RunAnalysis &analysis, RunPlot &plot,
                const RecordFile &record, const QString &recordName)
{
    const RunSetup &setup = *analysis.setup();
    Pages pages(writer, QStringLiteral("Run report · %1 · %2 · %3")
                            .arg(setup.port, dateTimeText(analysis.started()), recordName));
    if (!pages.active())
        return false;
    QCPPainter &painter = pages.draw();

    pages.font(18, true);
    const double titleTop = pages.y;
    pages.text(margin, contentWidth, QStringLiteral("Run report"));
    pages.y = titleTop;
    pages.font(9);
    pages.text(margin, contentWidth,
               QStringLiteral("chamberctl %1").arg(QStringLiteral(CHAMBERCTL_VERSION)),
               Qt::AlignRight);
    if (setup.version != QStringLiteral(CHAMBERCTL_VERSION))
        pages.text(margin, contentWidth,
                   QStringLiteral("recorded by chamberctl %1").arg(setup.version), Qt::AlignRight);
    pages.y = std::max(pages.y, titleTop + 9 * mm);

    pages.keyValue(QStringLiteral("Port"),
                   setup.device.isEmpty()
                       ? setup.port
                       : QStringLiteral("%1 (device %2)").arg(setup.port, setup.device));
    pages.keyValue(QStringLiteral("Profile"), setup.profileName.isEmpty()
                                                  ? QStringLiteral("as typed in the window")
                                                  : setup.profileName);
    if (record.setupError.isEmpty()) {
        pages.keyValue(QStringLiteral("Points"), pointsText(setup.profile));
        pages.keyValue(QStringLiteral("Cycles"), writenumber(setup.profile.cycles, 0));
        pages.keyValue(QStringLiteral("Conditions"), conditionsText(setup.profile.conditions));
        pages.keyValue(QStringLiteral("Profile SHA-256"), analysis.profileSha256());
    } else {
        pages.keyValue(QStringLiteral("Points"),
                       QStringLiteral("The record's profile cannot be read (%1): the points "
                                      "below are those its rows name.")
                           .arg(record.setupError));
    }
    if (!setup.operatorName.isEmpty())
        pages.keyValue(QStringLiteral("Operator"), setup.operatorName);
    if (!setup.testId.isEmpty())
        pages.keyValue(QStringLiteral("Test ID"), setup.testId);
    pages.keyValue(QStringLiteral("Started"), dateTimeText(analysis.started()));
    const bool ended = !analysis.ending().isEmpty();
    pages.keyValue(QStringLiteral("Ended"),
                   ended ? dateTimeText(analysis.lastSeen())
                         : QStringLiteral("The run did not end: its record stops at %1 (the "
                                          "program or the computer stopped).")
                               .arg(dateTimeText(analysis.lastSeen())));
    pages.keyValue(QStringLiteral("Duration"), durationText(analysis.durationS()));
    pages.keyValue(QStringLiteral("How it ended"),
                   ended ? analysis.ending() : QStringLiteral("did not end"));
    pages.keyValue(QStringLiteral("Readings"),
                   QStringLiteral("%1, from %2 to %3 °C; %4 errors, %5 silences, %6 alarms")
                       .arg(analysis.readings())
                       .arg(figure(analysis.lowestC(), 1), figure(analysis.highestC(), 1))
                       .arg(analysis.errors())
                       .arg(analysis.silences())
                       .arg(analysis.alarms().size()));
    pages.keyValue(QStringLiteral("Record"), recordName);
    pages.y += 3 * mm;

    drawVerdict(pages, analysis);

    painter.save();
    painter.translate(margin, pages.y);
    plot.toPainter(&painter, int(contentWidth), int(plotHeight));
    painter.restore();
    pages.y += plotHeight + 1 * mm;
    pages.font(7);
    pages.text(margin, contentWidth,
               QStringLiteral("Black: the readings. Orange: the setpoints sent. Bands: red while "
                              "heating, blue while cooling, green while a setpoint is held. "
                              "Dashed: a new cycle. Times are local to the run, UTC%1.")
                   .arg(dateTimeText(analysis.started()).mid(20)));
    pages.y += 4 * mm;

    std::vector<double> widths;
    double shares = 0;
    for (const Column &column : columns)
        shares += column.widthShare;
    for (const Column &column : columns)
        widths.push_back(contentWidth * column.widthShare / shares);

    const QList<PointFigures> &points = analysis.points();
    const double tableTop = headerRowHeight + 1.4 * mm + 6 * mm; // heading, column titles, rule
    const int firstPageRows =
        std::max(0, int((footerTop - 2 * mm - pages.y - tableTop) / rowHeight));
    const int pageRows = int((footerTop - 2 * mm - margin - tableTop) / rowHeight);
    const int rest = std::max(0, int(points.size()) - firstPageRows);
    pages.pages = 1 + (rest + pageRows - 1) / pageRows;
    if (firstPageRows == 0 && !points.isEmpty())
        pages.newPage();

    pages.font(11, true);
    pages.text(margin, contentWidth, QStringLiteral("Points"));
    pages.y += 1 * mm;
    drawTableHeader(pages, widths);
    if (points.isEmpty()) {
        pages.font(8);
        pages.text(margin, contentWidth, QStringLiteral("No point was begun."));
    }
    for (const PointFigures &p : points) {
        if (pages.y + rowHeight > footerTop - 2 * mm) {
            pages.newPage();
            pages.font(11, true);
            pages.text(margin, contentWidth, QStringLiteral("Points (continued)"));
            pages.y += 1 * mm;
            drawTableHeader(pages, widths);
        }
        const QStringList cells = rowCells(analysis, p);
        double x = margin;
        for (qsizetype i = 0; i < cells.size(); ++i) {
            const bool failed = i == cells.size() - 1 && cells[i] == QLatin1String("FAIL");
            pages.font(7, failed);
            painter.setPen(failed ? QColor(200, 0, 0) : QColor(0, 0, 0));
            painter.drawText(QRectF(x, pages.y, widths[size_t(i)] - 1, rowHeight),
                             Qt::AlignRight | Qt::AlignVCenter, cells[i]);
            x += widths[size_t(i)];
        }
        painter.setPen(Qt::black);
        pages.y += rowHeight;
    }
    pages.finishPage();
    return painter.end();
}

bool writeWhole(const QString &path, const std::function<bool(QIODevice &)> &write, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !write(file) || !file.commit()) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

ReportFiles reportFiles(const QString &record, const QString &pdf)
{
    ReportFiles files;
    const QFileInfo recordInfo(record);
    files.pdf =
        pdf.isEmpty()
            ? recordInfo.dir().filePath(recordInfo.completeBaseName() + QStringLiteral(".pdf"))
            : pdf;
    const QFileInfo pdfInfo(files.pdf);
    const QString base = pdfInfo.suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0
                             ? pdfInfo.completeBaseName()
                             : pdfInfo.fileName();
    files.summary = pdfInfo.dir().filePath(base + QStringLiteral(".summary.json"));
    return files;
}

ReportStatus writeRunReport(const QString &record, const ReportFiles &files, QString &message)
{
    RunAnalysis analysis;
    RunPlotData plotData;
    QString error;
    const auto read = readRecord(record, error, [&](const RunFact &row) {
        analysis.take(row);
        if (row.inRun)
            plotData.take(row);
    });
    if (!read) {
        message = QStringLiteral("%1: %2").arg(record, error);
        return RecordUnreadable;
    }
    if (!analysis.begun()) {
        message = QStringLiteral("%1: the record holds no run").arg(record);
        return RecordUnreadable;
    }
    analysis.finish();
    plotData.finish();
    RunPlot plot;
    plot.showRun(plotData);
    const QString recordName = QFileInfo(record).fileName();

    const bool drawn = writeWhole(
        files.pdf,
        [&](QIODevice &device) {
            QPdfWriter writer(&device);
            writer.setPageSize(QPageSize(QPageSize::A4));
            writer.setPageOrientation(QPageLayout::Portrait);
            writer.setPageMargins(QMarginsF(0, 0, 0, 0));
            writer.setResolution(unitsPerInch);
            writer.setCreator(QStringLiteral("chamberctl %1").arg(CHAMBERCTL_VERSION));
            writer.setTitle(QStringLiteral("Run report %1").arg(recordName));
            return drawReport(writer, analysis, plot, *read, recordName);
        },
        error);
    if (!drawn) {
        message = QStringLiteral("The report could not be written: %1").arg(error);
        return ReportNotWritten;
    }
    QJsonObject summary = analysis.summary();
    summary.insert(QStringLiteral("record"), recordName);
    const bool summed = writeWhole(
        files.summary,
        [&](QIODevice &device) {
            const QByteArray text = QJsonDocument(summary).toJson(QJsonDocument::Indented);
            return device.write(text) == text.size();
        },
        error);
    if (!summed) {
        message = QStringLiteral("The summary could not be written: %1").arg(error);
        return ReportNotWritten;
    }
    message = QStringLiteral("%1\n%2\n").arg(files.pdf, files.summary);
    return ReportWritten;
}

} // namespace chamber

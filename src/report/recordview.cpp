// A past record read on a thread of its own, then shown in place of the live trend.
#include "report/recordview.h"

#include "record/recordfile.h"
#include "report/runplot.h"

#include <QLabel>
#include <QThread>

#include <memory>

namespace chamber {

namespace {

constexpr int noteMarginPx = 4;
constexpr double pngScale = 2.0; // sharper than the screen, for reports
constexpr int titlePoints = 10;

struct ReadRecord
{
    RunPlotData data;
    RunSetup setup;
    bool manual = false;
    QString error;
};

} // namespace

RecordView::RecordView(QCustomPlot *live, QWidget *parent)
    : QStackedWidget(parent)
    , live(live)
    , plot(new RunPlot)
    , noteLabel(new QLabel(plot))
{
    addWidget(live);
    addWidget(plot);
    plot->setFocusPolicy(Qt::NoFocus);
    plot->axisRect()->setRangeDrag(Qt::Horizontal);
    plot->axisRect()->setRangeZoom(Qt::Horizontal);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    connect(plot, &QCustomPlot::mouseDoubleClick, this, &RecordView::showLive);

    noteLabel->setObjectName(QStringLiteral("recordNote"));
    noteLabel->setAttribute(Qt::WA_TransparentForMouseEvents); // a double-click on it is the plot's
    QPalette palette = noteLabel->palette();
    palette.setColor(QPalette::Window, QColor(255, 255, 255, 220));
    noteLabel->setPalette(palette);
    noteLabel->setAutoFillBackground(true);
    noteLabel->setMargin(2);
    connect(plot, &QCustomPlot::afterLayout, this, &RecordView::placeNote);
}

RecordView::~RecordView()
{
    if (reading)
        reading->wait();
}

QCustomPlot *RecordView::plotShown() const
{
    return showingRecord() ? plot : live;
}

QString RecordView::note() const
{
    return showingRecord() ? noteLabel->text() : QString();
}

void RecordView::open(const QString &path)
{
    if (reading) {
        next = path;
        return;
    }
    auto result = std::make_shared<ReadRecord>();
    // A day's record is some 20 MB: read, and its lines gathered, away from the window's thread.
    reading = QThread::create([path, result] {
        const auto record =
            readRecord(path, result->error, [&](const RunFact &row) { result->data.take(row); });
        if (!record)
            return;
        result->data.finish();
        result->setup = record->setup;
        result->manual = record->manual;
        if (record->rowCount == 0)
            result->error = QStringLiteral("it holds no rows");
    });
    connect(reading, &QThread::finished, this, [this, path, result] {
        reading->deleteLater();
        reading = nullptr;
        if (!result->error.isEmpty()) {
            emit failed(path, result->error);
        } else {
            const RunSetup &setup = result->setup;
            const QDateTime start =
                setup.started.isValid() ? setup.started : result->data.firstSeen();
            const QString when = start.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
            title = result->manual ? QStringLiteral("%1, manual record of %2").arg(setup.port, when)
                                   : QStringLiteral("%1, run of %2").arg(setup.port, when);
            noteLabel->setText(QStringLiteral("Record of %1, %2%3 — double-click for live")
                                   .arg(when, setup.port,
                                        result->manual ? QStringLiteral(" (manual)") : QString()));
            noteLabel->setAccessibleName(noteLabel->text());
            noteLabel->adjustSize();
            plot->showRun(result->data);
            setCurrentIndex(1);
            plot->replot(QCustomPlot::rpQueuedReplot);
        }
        if (!next.isEmpty())
            open(std::exchange(next, QString()));
    });
    reading->start();
}

void RecordView::showLive()
{
    setCurrentIndex(0);
    plot->showRun(RunPlotData()); // the record's lines are let go
    title.clear();
}

bool RecordView::saveShown(const QString &path, bool pdf, const QString &port)
{
    QCustomPlot *shown = plotShown();
    const QString what = showingRecord() ? title : port + QStringLiteral(", live");
    auto *heading = new QCPTextElement(shown, QStringLiteral("chamberctl trend — ") + what,
                                       QFont(font().family(), titlePoints, QFont::Bold));
    shown->plotLayout()->insertRow(0);
    shown->plotLayout()->addElement(0, 0, heading);
    // the live trend shows the time of day; on paper the date goes with it
    const auto ticker = qSharedPointerCast<QCPAxisTickerDateTime>(shown->xAxis->ticker());
    const QString format = ticker ? ticker->dateTimeFormat() : QString();
    if (ticker)
        ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd\nHH:mm:ss"));
    const bool saved = pdf ? shown->savePdf(path) : shown->savePng(path, 0, 0, pngScale);
    if (ticker)
        ticker->setDateTimeFormat(format);
    shown->plotLayout()->remove(heading);
    shown->plotLayout()->simplify();
    shown->replot(QCustomPlot::rpQueuedReplot);
    return saved;
}

void RecordView::placeNote()
{
    // bottom right of the plot area: the legend holds the top left
    const QRect area = plot->axisRect()->rect();
    noteLabel->adjustSize();
    noteLabel->move(area.right() - noteLabel->width() - noteMarginPx,
                    area.bottom() - noteLabel->height() - noteMarginPx);
    noteLabel->raise();
}

} // namespace chamber

#include "moc_recordview.cpp"

// Looking back at a past run: its record shown where the live trend is, until a double-click.
#pragma once

#include <QStackedWidget>

class QCustomPlot;
class QLabel;
class QThread;

namespace chamber {

class RunPlot;

// Holds the live trend and, while one is open, a record's whole run over it. The live trend goes
// on taking its readings meanwhile; a double-click on the record returns to it.
class RecordView : public QStackedWidget
{
    Q_OBJECT
public:
    explicit RecordView(QCustomPlot *live, QWidget *parent = nullptr);
    ~RecordView() override; // waits for a record being read

    // Reads the record on a thread of its own and shows it once it is read; failed() when it
    // cannot be. A record asked for while another is being read waits for it.
    void open(const QString &path);
    void showLive();
    bool showingRecord() const { return currentIndex() == 1; }
    // The plot in view: the live trend's or the record's.
    QCustomPlot *plotShown() const;
    // What the record shown is, "COM1, run of 2026-12-06 14:02"; empty while live.
    QString recordTitle() const { return showingRecord() ? title : QString(); }
    QString note() const;
    // Saves the plot in view as a PNG image or a PDF file, with a title over it ("COM1, live" or
    // "COM1, run of 2026-12-06 14:02") and dates on its time axis. port: the live trend's.
    bool saveShown(const QString &path, bool pdf, const QString &port);

signals:
    void failed(const QString &path, const QString &reason);

private:
    void placeNote();

    QCustomPlot *live;
    RunPlot *plot;
    QLabel *noteLabel;
    QThread *reading = nullptr;
    QString title;
    QString next; // the record asked for while another was being read
};

} // namespace chamber

// The window's lower band: lines of notices above the trend, each shown only while it has news.
#pragma once

#include <QLabel>
#include <QWidget>

class QVBoxLayout;

namespace chamber {

// One line of news in the band. Its text is its accessible name, so that a screen reader says
// what the line says; its code name stays in the accessible description.
class Notice : public QLabel
{
    Q_OBJECT
public:
    enum Look {
        Warning, // red text: something needs the operator's eye
        Quiet,   // grey text: a state worth knowing, nothing to do
        Plain,   // the window's own text colour
        Alarm,   // white on a red bar
    };

    Notice(const QString &name, Look look, QWidget *parent = nullptr);

    // Shows the line with text; an empty text hides it.
    void say(const QString &text);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

class Band : public QWidget
{
    Q_OBJECT
public:
    explicit Band(QWidget *parent = nullptr);

    // Lines stand above the trend in the order they were added; a hidden line takes no room.
    void addLine(QWidget *line);
    void setTrend(QWidget *trend);

private:
    QVBoxLayout *lines = nullptr;
    QVBoxLayout *column = nullptr;
};

} // namespace chamber

// The band below the cycle row: notice lines and the trend.
#include "band/band.h"

#include <QMouseEvent>
#include <QVBoxLayout>

namespace chamber {

Notice::Notice(const QString &name, Look look, QWidget *parent)
    : QLabel(parent)
{
    setObjectName(name);
    setAccessibleDescription(name);
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.75);
    setFont(small);
    QPalette colours = palette();
    switch (look) {
    case Warning:
        colours.setColor(QPalette::WindowText, QColor(255, 0, 0));
        break;
    case Quiet:
        colours.setColor(QPalette::WindowText, QColor(128, 128, 128));
        break;
    case Plain:
        break;
    case Alarm:
        colours.setColor(QPalette::WindowText, QColor(255, 255, 255));
        colours.setColor(QPalette::Window, QColor(255, 0, 0));
        setAutoFillBackground(true);
        setCursor(Qt::PointingHandCursor);
        break;
    }
    setPalette(colours);
    hide();
}

void Notice::say(const QString &text)
{
    setText(text);
    setAccessibleName(text);
    setVisible(!text.isEmpty());
}

void Notice::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QLabel::mousePressEvent(event);
}

Band::Band(QWidget *parent)
    : QWidget(parent)
{
    column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    lines = new QVBoxLayout;
    lines->setSpacing(0);
    column->addLayout(lines);
}

void Band::addLine(QWidget *line)
{
    line->setParent(this);
    lines->addWidget(line);
}

void Band::setTrend(QWidget *trend)
{
    trend->setParent(this);
    column->addWidget(trend, 1);
}

} // namespace chamber

#include "moc_band.cpp"

// Design units of the windows: positions in twips and the design font.
#pragma once

#include <QFont>
#include <QRect>
#include <QWidget>

namespace chamber {

constexpr int twipsPerInch = 1440;

// The logical dpi of the screen the widget is on (96 on a standard screen: 15 twips a pixel).
inline qreal designDpi(const QWidget *widget)
{
    return widget->logicalDpiX();
}

inline int twips(int value, qreal dpi)
{
    return qRound(value * dpi / twipsPerInch);
}

inline QRect twipsRect(int left, int top, int width, int height, qreal dpi)
{
    return QRect(twips(left, dpi), twips(top, dpi), twips(width, dpi), twips(height, dpi));
}

// "MS Sans Serif" is not on most systems: the nearest sans-serif face at the same size and weight.
inline QFont designFont(qreal points, bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Names a control for tests, automation tools and screen readers: objectName and accessible
// description carry the control's name ("setpoints(2)"), the accessible name what a user hears.
inline void nameControl(QWidget *widget, const QString &name, const QString &spoken)
{
    widget->setObjectName(name);
    widget->setAccessibleDescription(name);
    widget->setAccessibleName(spoken);
}

// How the shared dialogs start: a blank title, a client area of fixed size in twips at the
// screen's dpi, and the design's "MS Sans Serif" 8.25 pt.
inline void designDialog(QWidget *dialog, int widthTwips, int heightTwips)
{
    const qreal dpi = designDpi(dialog);
    dialog->setFont(designFont(8.25, false));
    dialog->setWindowTitle(QStringLiteral(" "));
    dialog->setFixedSize(twips(widthTwips, dpi), twips(heightTwips, dpi));
}

// A control's place in a window's design, in twips.
struct TwipsPlace
{
    int left, top, width, height;
};

// Puts a control where the design has it, at its screen's dpi, and names it as nameControl does.
template<typename Control>
Control *place(Control *control, TwipsPlace at, const QString &name, const QString &spoken)
{
    control->setGeometry(twipsRect(at.left, at.top, at.width, at.height, designDpi(control)));
    nameControl(control, name, spoken);
    return control;
}

} // namespace chamber

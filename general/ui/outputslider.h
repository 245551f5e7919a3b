#pragma once

#include "general/channeldisplayoptions.h"

#include <QLinearGradient>
#include <QPointer>
#include <QPolygon>
#include <QWidget>

namespace halvorn::general {

class ChannelDisplayOptions;
class Input;
class IOManager;
class Output;

// A custom-painted level slider. Its value (0..1) drives the output
// "Output", to which network inputs (set points) are attached; the input
// "Input" lets the slider mirror a value from elsewhere without writing the
// output. The keys Left, Right, Up, Down, 1, 9 and 0 set the outputs
// "KEY_LEFT" … "KEY_0" to 1.0 for whoever listens to them.
//
// The text in the bar gives the value in percent, linearly or on the
// logarithmic dimming curve of the drivers (254 steps over three decades).
class OutputSlider : public QWidget
{
    Q_OBJECT

public:
    enum { Horizontal = 1, Vertical = 2 };

    explicit OutputSlider(QWidget* parent = nullptr);
    ~OutputSlider() override;

    // 1 horizontal, any other value vertical.
    void setOrientation(int orientation);
    int orientation() const { return m_orientation; }
    void setFromColour(const QColor& colour);
    void setToColour(const QColor& colour);
    // Takes orientation and background colours from channel display options
    // and follows their changes.
    void setDisplayOptions(ChannelDisplayOptions* options);
    void setShowMarkers(bool show);
    bool showMarkers() const { return m_showMarkers; }
    // A slider that is not interactive ignores mouse and keys and is grey.
    void setInteractive(bool interactive);
    bool isInteractive() const { return m_interactive; }
    void setLinear(bool linear);
    bool isLinear() const { return m_linear; }

    float value() const { return m_value; }
    // Clamped to 0..1; repaints and writes the "Output" output.
    void setValue(float value);

    Output* output() const;
    Input* input() const;
    IOManager* ioManager() const { return m_io; }

    // The text drawn in the bar for a value: "(lin)\n50.0%" or "(log)\n3.1%".
    static QString valueText(float value, bool linear);
    // The value a mouse position stands for (clamped at the bar's ends).
    float valueAt(const QPoint& position) const;

    // The widget inset by 2 pixels; the bar inset by 2 more; the part of
    // the bar up to the value.
    QSize sizeHint() const override;

    QRect frameRect() const;
    QRect barRect() const;
    QRect fillRect() const;

public Q_SLOTS:
    void inputValueChanged(halvorn::general::Input* in);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool isHorizontal() const { return m_orientation == Horizontal; }
    void applyDisplayOptions();
    void paintMarkers(QPainter& painter) const;

    float m_value = 0.0f;
    int m_orientation = Horizontal;
    QLinearGradient m_background;
    bool m_showMarkers = false;
    bool m_interactive = true;
    bool m_linear = false;
    bool m_dragging = false;
    QPolygon m_upArrow;
    QPolygon m_downArrow;
    QPolygon m_rightArrow;
    QPolygon m_leftArrow;
    IOManager* m_io; // owned (a tree node, not a QObject child)
    QPointer<ChannelDisplayOptions> m_displayOptions;
};

} // namespace halvorn::general

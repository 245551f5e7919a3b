#include "general/ui/outputslider.h"

#include "general/channeldisplayoptions.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/output.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace halvorn::general {

namespace {

const char* const kOutputName = "Output";
const char* const kInputName = "Input";

// Keys and the outputs they set to 1.0.
const struct {
    int key;
    const char* output;
} kKeyOutputs[] = {
    {Qt::Key_Left, "KEY_LEFT"}, {Qt::Key_Right, "KEY_RIGHT"}, {Qt::Key_Up, "KEY_UP"},
    {Qt::Key_Down, "KEY_DOWN"}, {Qt::Key_1, "KEY_1"},         {Qt::Key_9, "KEY_9"},
    {Qt::Key_0, "KEY_0"},
};

// Below this the logarithmic curve is off (less than one of 254 steps).
constexpr float kLogOffThreshold = 0.0039f;

QPolygon arrow(std::initializer_list<QPoint> points)
{
    return QPolygon(QList<QPoint>(points));
}

} // namespace

OutputSlider::OutputSlider(QWidget* parent)
    : QWidget(parent)
    , m_background(0, 0, 1, 0)
    , m_upArrow(arrow({{-3, 3}, {-3, -1}, {0, -4}, {3, -1}, {3, 3}}))
    , m_downArrow(arrow({{-3, -3}, {-3, 1}, {0, 4}, {3, 1}, {3, -3}}))
    , m_rightArrow(arrow({{-3, -3}, {1, -3}, {4, 0}, {1, 3}, {-3, 3}}))
    , m_leftArrow(arrow({{3, -3}, {-1, -3}, {-4, 0}, {-1, 3}, {3, 3}}))
    , m_io(new IOManager)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(100, 10);
    setMaximumSize(QWIDGETSIZE_MAX, 32);
    m_background.setCoordinateMode(QGradient::ObjectBoundingMode);
    setFromColour(QColor(0, 0, 0, 0));
    setToColour(QColor(180, 200, 170, 255));

    m_io->setName(QStringLiteral("Inputs/outputs"));
    connect(m_io->input(QString::fromLatin1(kInputName)), &Input::inputValueChanged, this,
            &OutputSlider::inputValueChanged);
    m_io->output(QString::fromLatin1(kOutputName));
    for (const auto& entry : kKeyOutputs)
        m_io->output(QString::fromLatin1(entry.output));
}

OutputSlider::~OutputSlider()
{
    delete m_io;
}

void OutputSlider::setOrientation(int orientation)
{
    m_orientation = orientation == Horizontal ? Horizontal : Vertical;
    if (isHorizontal()) {
        m_background.setStart(0, 0);
        m_background.setFinalStop(1, 0);
        setMinimumSize(32, 16);
        setMaximumSize(QWIDGETSIZE_MAX, 32);
    } else {
        m_background.setStart(0, 1);
        m_background.setFinalStop(0, 0);
        setMinimumSize(16, 32);
        setMaximumSize(32, QWIDGETSIZE_MAX);
    }
    update();
}

void OutputSlider::setFromColour(const QColor& colour)
{
    m_background.setColorAt(0, colour);
    update();
}

void OutputSlider::setToColour(const QColor& colour)
{
    m_background.setColorAt(1, colour);
    update();
}

void OutputSlider::setDisplayOptions(ChannelDisplayOptions* options)
{
    if (m_displayOptions)
        disconnect(m_displayOptions, nullptr, this, nullptr);
    m_displayOptions = options;
    if (options) {
        connect(options, &ChannelDisplayOptions::optionsChanged, this, &OutputSlider::applyDisplayOptions);
        applyDisplayOptions();
    }
}

void OutputSlider::applyDisplayOptions()
{
    if (!m_displayOptions)
        return;
    setOrientation(m_displayOptions->orientation() == Qt::Horizontal ? Horizontal : Vertical);
    setFromColour(m_displayOptions->backgroundFromColour());
    setToColour(m_displayOptions->backgroundToColour());
}

void OutputSlider::setShowMarkers(bool show)
{
    m_showMarkers = show;
    update();
}

void OutputSlider::setInteractive(bool interactive)
{
    m_interactive = interactive;
    if (!interactive && m_dragging) {
        m_dragging = false;
        releaseMouse();
    }
    update();
}

void OutputSlider::setLinear(bool linear)
{
    m_linear = linear;
    update();
}

void OutputSlider::setValue(float value)
{
    m_value = std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
    update();
    output()->setValue(m_value);
}

Output* OutputSlider::output() const
{
    return m_io->output(QString::fromLatin1(kOutputName));
}

Input* OutputSlider::input() const
{
    return m_io->input(QString::fromLatin1(kInputName));
}

void OutputSlider::inputValueChanged(Input* in)
{
    if (!in)
        return;
    const double value = in->value();
    m_value = std::isfinite(value) ? float(std::clamp(value, 0.0, 1.0)) : 0.0f;
    update();
}

QString OutputSlider::valueText(float value, bool linear)
{
    if (linear)
        return QStringLiteral("(lin)\n") + QString::number(double(value) * 100.0, 'f', 1) + QLatin1Char('%');
    const double percent =
        value < kLogOffThreshold ? 0.0 : std::pow(10.0, (double(value) * 254.0 - 1.0) / 84.333336 - 1.0);
    return QStringLiteral("(log)\n") + QString::number(percent, 'f', 1) + QLatin1Char('%');
}

QSize OutputSlider::sizeHint() const
{
    // Room for the two lines of text.
    return isHorizontal() ? QSize(200, 32) : QSize(32, 200);
}

QRect OutputSlider::frameRect() const
{
    return rect().adjusted(2, 2, -2, -2);
}

QRect OutputSlider::barRect() const
{
    return frameRect().adjusted(2, 2, -2, -2);
}

QRect OutputSlider::fillRect() const
{
    const QRect bar = barRect();
    QRect fill = bar;
    if (isHorizontal())
        fill.setRight(bar.left() + int((bar.right() + 1 - bar.left()) * m_value));
    else
        fill.setTop(bar.bottom() - int((bar.bottom() + 1 - bar.top()) * m_value));
    return fill;
}

float OutputSlider::valueAt(const QPoint& position) const
{
    const QRect bar = barRect();
    if (isHorizontal()) {
        if (position.x() < bar.left())
            return 0.0f;
        if (position.x() > bar.right())
            return 1.0f;
        return float(position.x() - bar.left()) / float(bar.right() + 1 - bar.left());
    }
    if (position.y() > bar.bottom())
        return 0.0f;
    if (position.y() < bar.top())
        return 1.0f;
    return 1.0f - float(position.y() - bar.top()) / float(bar.bottom() + 1 - bar.top());
}

void OutputSlider::mousePressEvent(QMouseEvent* event)
{
    if (!m_interactive || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    grabMouse();
    m_dragging = true;
}

void OutputSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_interactive) {
        m_dragging = false;
        return;
    }
    if (m_dragging)
        setValue(valueAt(event->position().toPoint()));
}

void OutputSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_interactive || !m_dragging || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    setValue(valueAt(event->position().toPoint()));
    releaseMouse();
    m_dragging = false;
}

void OutputSlider::keyPressEvent(QKeyEvent* event)
{
    if (m_interactive) {
        for (const auto& entry : kKeyOutputs) {
            if (event->key() == entry.key) {
                m_io->output(QString::fromLatin1(entry.output))->setValue(1.0);
                return;
            }
        }
    }
    event->ignore();
}

void OutputSlider::paintEvent(QPaintEvent*)
{
    const QRect frameArea = frameRect();
    const QRect bar = barRect();
    const QRect fill = fillRect();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    if (m_interactive)
        painter.fillRect(bar, QBrush(m_background));
    else
        painter.fillRect(bar, QColor(150, 150, 150, 100));

    QLinearGradient gloss(fill.topLeft(), fill.bottomLeft());
    gloss.setColorAt(0, QColor(255, 255, 255, 130));
    gloss.setColorAt(1, QColor(200, 200, 200, 50));
    painter.fillRect(fill, gloss);

    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    if (isHorizontal())
        painter.drawLine(fill.right(), bar.top(), fill.right(), bar.bottom());
    else
        painter.drawLine(bar.left(), fill.top(), bar.right(), fill.top());

    QFont font(QStringLiteral("Helvetica"));
    font.setPointSize(10);
    painter.setFont(font);
    painter.drawText(bar, Qt::AlignCenter, valueText(m_value, m_linear));

    const bool focused = hasFocus();
    QPainterPath frame;
    frame.addRoundedRect(QRectF(frameArea), 5, 5);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, focused ? 6 : 4));
    painter.drawPath(frame);
    painter.setPen(QPen(Qt::black, focused ? 2 : 1));
    painter.drawPath(frame);

    if (m_showMarkers)
        paintMarkers(painter);
}

void OutputSlider::paintMarkers(QPainter& painter) const
{
    const QRect frameArea = frameRect();
    const QRect fill = fillRect();
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    if (isHorizontal()) {
        painter.drawPolygon(m_upArrow.translated(fill.right(), frameArea.bottom()));
        painter.drawPolygon(m_downArrow.translated(fill.right(), frameArea.top()));
    } else {
        painter.drawPolygon(m_rightArrow.translated(frameArea.left(), fill.top()));
        painter.drawPolygon(m_leftArrow.translated(frameArea.right(), fill.top()));
    }
}

} // namespace halvorn::general

#include "general/ui/parameternodemenu.h"

#include <QActionGroup>
#include <QInputDialog>

namespace halvorn::general {

namespace {

constexpr double kScaleLimit = 1000000000.0;

} // namespace

ParameterNodeMenu::ParameterNodeMenu(Parameter* parameter, QWidget* parent)
    : TreeNodeMenu(parameter, parent)
    , m_parameter(parameter)
{
    setTitle(tr("Parameter"));
    addSeparator();
    QAction* clear = addAction(tr("Clear min/max"));
    if (parameter)
        connect(clear, &QAction::triggered, parameter, &Parameter::clearMinMax);
    connect(addAction(tr("Show graph")), &QAction::triggered, this, &ParameterNodeMenu::showGraph);

    m_displayMenu = new QMenu(tr("Display type"), this);
    m_displayGroup = new QActionGroup(this);
    m_displayGroup->setExclusive(true);
    const struct {
        const char* text;
        void (ParameterNodeMenu::*slot)();
    } entries[] = {
        {"Decimal", &ParameterNodeMenu::setDecimal},
        {"Hex", &ParameterNodeMenu::setHex},
        {"Binary", &ParameterNodeMenu::setBinary},
        {"Scaled (factor * val)", &ParameterNodeMenu::setScale},
        {"Scaled (factor / val)", &ParameterNodeMenu::setScaleDiv},
    };
    int mode = 0;
    for (const auto& entry : entries) {
        QAction* action = m_displayMenu->addAction(tr(entry.text));
        action->setCheckable(true);
        action->setData(mode++);
        m_displayGroup->addAction(action);
        connect(action, &QAction::triggered, this, entry.slot);
    }
    checkCurrentMode();
    addSeparator();
    addMenu(m_displayMenu);
}

QAction* ParameterNodeMenu::displayAction(int mode) const
{
    const QList<QAction*> actions = m_displayGroup->actions();
    return mode >= 0 && mode < actions.size() ? actions.at(mode) : nullptr;
}

void ParameterNodeMenu::checkCurrentMode()
{
    if (!m_parameter)
        return;
    if (QAction* action = displayAction(m_parameter->displayMode()))
        action->setChecked(true);
}

void ParameterNodeMenu::setMode(int mode)
{
    if (!m_parameter)
        return;
    switch (mode) {
    case Parameter::Decimal:
        m_parameter->setDecimal();
        break;
    case Parameter::Hexadecimal:
        m_parameter->setHex();
        break;
    case Parameter::BinaryMode:
        m_parameter->setBinary();
        break;
    }
    checkCurrentMode();
}

void ParameterNodeMenu::setDecimal()
{
    setMode(Parameter::Decimal);
}

void ParameterNodeMenu::setHex()
{
    setMode(Parameter::Hexadecimal);
}

void ParameterNodeMenu::setBinary()
{
    setMode(Parameter::BinaryMode);
}

void ParameterNodeMenu::setScale()
{
    askScale(Parameter::ScaledMultiply, tr("Scale factor for parameter (factor * value)"), 6);
}

void ParameterNodeMenu::setScaleDiv()
{
    askScale(Parameter::ScaledDivide, tr("Scale factor for parameter (factor / value)"), 0);
}

void ParameterNodeMenu::askScale(int mode, const QString& label, int decimals)
{
    if (!m_parameter)
        return;
    bool accepted = false;
    const double factor = QInputDialog::getDouble(nullptr, tr("Scale factor"), label, m_parameter->scale(),
                                                  -kScaleLimit, kScaleLimit, decimals, &accepted);
    // The parameter may have gone while the dialog was open.
    if (accepted && m_parameter) {
        if (mode == Parameter::ScaledMultiply)
            m_parameter->setScale(factor);
        else
            m_parameter->setScaleDiv(factor);
    }
    // Qt has already moved the check to the chosen entry; a cancelled
    // dialog changed nothing, so the check goes back.
    checkCurrentMode();
}

void ParameterNodeMenu::showGraph()
{
}

} // namespace halvorn::general

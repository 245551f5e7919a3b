#pragma once

#include "general/parameter.h"
#include "general/ui/treenodemenu.h"

class QActionGroup;

namespace halvorn::general {

// The context menu of a parameter: "Clear min/max", "Show graph" and the
// "Display type" sub-menu with the five display modes as exclusive
// choices, the current one checked. The two scaled modes first ask for the
// scale factor.
class ParameterNodeMenu : public TreeNodeMenu
{
    Q_OBJECT

public:
    explicit ParameterNodeMenu(halvorn::general::Parameter* parameter, QWidget* parent = nullptr);

    Parameter* parameter() const { return m_parameter; }
    QMenu* displayMenu() const { return m_displayMenu; }
    // The "Display type" entry of a mode (0..4), or nullptr.
    QAction* displayAction(int mode) const;

public Q_SLOTS:
    void setDecimal();
    void setHex();
    void setBinary();
    void setScale();
    void setScaleDiv();
    void showGraph();

private:
    void setMode(int mode);
    // Asks for the factor; on acceptance sets it with the mode (3 or 4).
    void askScale(int mode, const QString& label, int decimals);
    // Checks the entry of the parameter's current mode.
    void checkCurrentMode();

    QPointer<Parameter> m_parameter;
    QMenu* m_displayMenu = nullptr;
    QActionGroup* m_displayGroup = nullptr;
};

} // namespace halvorn::general

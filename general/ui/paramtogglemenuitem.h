#pragma once

#include "general/parameter.h"
#include "general/ui/treenodemenuitem.h"

#include <QPointer>

namespace halvorn::general {

// A checkable menu entry for a boolean parameter: checked while the value
// is 1; choosing it writes 1 or 0 to the parameter. Follows the
// parameter's changes, which arrive from the parameter's thread.
class ParamToggleMenuItem : public TreeNodeMenuItem
{
    Q_OBJECT

public:
    explicit ParamToggleMenuItem(halvorn::general::Parameter* parameter, QObject* parent = nullptr);

    Parameter* parameter() const { return m_parameter; }

public Q_SLOTS:
    // Writes b (1 or 0) to the parameter.
    void toggle(bool b);
    void parameterChanged(halvorn::general::Parameter* param);

private:
    QPointer<Parameter> m_parameter;
};

} // namespace halvorn::general

#include "general/ui/paramtogglemenuitem.h"

namespace halvorn::general {

ParamToggleMenuItem::ParamToggleMenuItem(Parameter* parameter, QObject* parent)
    : TreeNodeMenuItem(parameter ? parameter->name() : QString(), parent)
    , m_parameter(parameter)
{
    qRegisterMetaType<halvorn::general::Parameter*>();
    setNode(parameter);
    setCheckable(true);
    setChecked(parameter && parameter->value() == 1);
    connect(this, &QAction::triggered, this, &ParamToggleMenuItem::toggle);
    if (parameter)
        connect(parameter, &Parameter::parameterChanged, this, &ParamToggleMenuItem::parameterChanged);
}

void ParamToggleMenuItem::toggle(bool b)
{
    // Written in the parameter's (network) thread, off the window's.
    if (Parameter* param = m_parameter)
        QMetaObject::invokeMethod(param, [param, b] { param->setValue(b ? 1 : 0, true); });
}

void ParamToggleMenuItem::parameterChanged(Parameter* param)
{
    if (param && param == m_parameter)
        setChecked(param->value() == 1);
}

} // namespace halvorn::general

#include "general/ui/parameterproxyview.h"

#include "general/ui/iconloader.h"
#include "general/ui/parameteroptionproxy.h"

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

namespace halvorn::general {

ParameterProxyView::ParameterProxyView(ParameterProxy* proxy, QObject* parent)
    : QObject(parent)
    , m_proxy(proxy)
    , m_label(new QLabel)
    , m_spinBox(new QSpinBox)
    , m_comboBox(new QComboBox)
{
    if (!proxy)
        return;
    connect(proxy, &ParameterProxy::paramChanged, this, &ParameterProxyView::updateUI);
    if (proxy->kind() == ParameterProxy::IntegerKind) {
        if (proxy->isValid()) {
            m_spinBox->setRange(proxy->minimum(), proxy->maximum());
            m_spinBox->setValue(proxy->value());
        } else {
            m_spinBox->setRange(0, 65535);
            m_spinBox->setValue(1);
        }
        connect(m_spinBox, &QSpinBox::textChanged, this, [this] {
            if (!m_updating)
                m_userEdited = true;
        });
        connect(m_spinBox, &QSpinBox::editingFinished, this, &ParameterProxyView::intValueChanged);
    } else if (auto* options = qobject_cast<ParameterOptionProxy*>(proxy)) {
        for (int i = 0; i <= options->maximum(); ++i) {
            const ParameterOptionProxy::Option* option = options->option(i);
            m_comboBox->addItem(loadIcon(option->iconPath()), option->text());
        }
        // activated() reports the user's choices only, not updateUI()'s.
        connect(m_comboBox, &QComboBox::activated, this, &ParameterProxyView::optionPicked);
    }
}

ParameterProxyView::~ParameterProxyView()
{
    for (QWidget* widget : {static_cast<QWidget*>(m_label), static_cast<QWidget*>(m_spinBox),
                            static_cast<QWidget*>(m_comboBox)}) {
        if (widget && !widget->parent())
            delete widget;
    }
}

QWidget* ParameterProxyView::editor() const
{
    if (m_proxy && m_proxy->kind() == ParameterProxy::OptionKind)
        return m_comboBox;
    return m_spinBox;
}

void ParameterProxyView::setShowLabel(bool show)
{
    m_showLabel = show;
    updateUI();
}

void ParameterProxyView::updateUI()
{
    if (!m_proxy)
        return;
    m_updating = true;
    if (m_proxy->kind() == ParameterProxy::IntegerKind)
        updateIntegerUI();
    else
        updateOptionUI();
    m_updating = false;
}

void ParameterProxyView::updateIntegerUI()
{
    if (!m_proxy->isValid()) {
        m_label->hide();
        m_spinBox->hide();
        return;
    }
    m_label->setText(m_proxy->label());
    m_label->setVisible(m_showLabel);
    m_spinBox->show();
    m_spinBox->setReadOnly(m_proxy->isReadOnly());
    m_spinBox->setToolTip(m_proxy->toolTip());
    m_spinBox->setRange(m_proxy->minimum(), m_proxy->maximum());
    // A value arriving while the user types in the box would undo the typing.
    if (m_userEdited && m_spinBox->hasFocus())
        return;
    const int value = m_proxy->value();
    if (value == -1)
        m_spinBox->clear();
    else
        m_spinBox->setValue(value);
    m_userEdited = false;
}

void ParameterProxyView::updateOptionUI()
{
    const bool valid = m_proxy->isValid();
    m_label->setVisible(valid && m_showLabel && !m_label->text().isEmpty());
    m_comboBox->setVisible(valid);
    if (!valid)
        return;
    m_comboBox->setEnabled(!m_proxy->isReadOnly());
    const int value = m_proxy->value();
    if (value != -1)
        m_comboBox->setCurrentIndex(value);
}

void ParameterProxyView::intValueChanged()
{
    if (!m_proxy || !m_proxy->isValid())
        return;
    // Tabbing through an emptied or read-only box reports its old value.
    if (m_spinBox->isReadOnly() || m_spinBox->cleanText().isEmpty() || !m_userEdited)
        return;
    m_userEdited = false;
    m_proxy->setValue(m_spinBox->value());
}

void ParameterProxyView::optionPicked(int index)
{
    if (m_proxy && m_proxy->isValid() && !m_proxy->isReadOnly())
        m_proxy->setValue(index);
}

} // namespace halvorn::general

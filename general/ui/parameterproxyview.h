#pragma once

#include "general/ui/parameterproxy.h"

#include <QComboBox>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QSpinBox>

namespace halvorn::general {

// The editor of one proxy: a label and a spin box for an integer proxy, a
// combo box for an option proxy. The row hides itself while the proxy's
// parameter is not on the device (before its parameter search) and shows
// the value as it arrives; an unread value (−1) leaves the box empty.
//
// A value is written only when the user changed it: a spin box that was
// emptied for an unread value, or that is read-only, still reports
// editingFinished() with the value it held before (1 after construction),
// which must never reach the device (on the network's device 0, the
// broadcast address, it would set every driver).
class ParameterProxyView : public QObject
{
    Q_OBJECT

public:
    // The widgets are created without parent; a layout that takes them
    // (ParameterProxyViewGroup) owns them, otherwise the view deletes them.
    explicit ParameterProxyView(halvorn::general::ParameterProxy* proxy, QObject* parent = nullptr);
    ~ParameterProxyView() override;

    ParameterProxy* proxy() const { return m_proxy; }
    QLabel* label() const { return m_label; }
    QSpinBox* spinBox() const { return m_spinBox; }
    QComboBox* comboBox() const { return m_comboBox; }
    // The widget beside the label: the spin box, or the combo box of an option proxy.
    QWidget* editor() const;
    bool showLabel() const { return m_showLabel; }
    void setShowLabel(bool show);

public Q_SLOTS:
    void updateUI();
    void intValueChanged();

private:
    void updateIntegerUI();
    void updateOptionUI();
    void optionPicked(int index);

    QPointer<ParameterProxy> m_proxy;
    QPointer<QLabel> m_label;
    QPointer<QSpinBox> m_spinBox;
    QPointer<QComboBox> m_comboBox;
    bool m_showLabel = true;
    bool m_updating = false;   // updateUI() is changing the widgets
    bool m_userEdited = false; // the user changed the spin box since updateUI()
};

} // namespace halvorn::general

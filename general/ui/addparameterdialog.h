#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AddParameterDialog;
}

// Asks for the numbers of custom parameters to add to a device: a start
// number (shown in hexadecimal), the spacing between numbers and a count.
class AddParameterDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddParameterDialog(QWidget* parent = nullptr);
    ~AddParameterDialog() override;

    int startParameter() const { return m_startParameter; }
    int interspacing() const { return m_interspacing; }
    int count() const { return m_count; }

protected:
    void changeEvent(QEvent* event) override;

private Q_SLOTS:
    void on_spinBox_valueChanged(int value);
    void on_spinBox_2_valueChanged(int value);
    void on_spinBox_3_valueChanged(int value);

private:
    std::unique_ptr<Ui::AddParameterDialog> m_ui;
    int m_startParameter = 0;
    int m_interspacing = 1;
    int m_count = 1;
};

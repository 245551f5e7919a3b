#include "general/ui/addparameterdialog.h"

#include "ui_addparameterdialog.h"

#include <QEvent>

AddParameterDialog::AddParameterDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::AddParameterDialog>())
{
    m_ui->setupUi(this);
}

AddParameterDialog::~AddParameterDialog() = default;

void AddParameterDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
}

void AddParameterDialog::on_spinBox_valueChanged(int value)
{
    m_startParameter = value;
}

void AddParameterDialog::on_spinBox_2_valueChanged(int value)
{
    m_interspacing = value;
}

void AddParameterDialog::on_spinBox_3_valueChanged(int value)
{
    m_count = value;
}

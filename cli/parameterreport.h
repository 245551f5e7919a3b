#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

namespace halvorn::general {
class Parameter;
class TreeNode;
} // namespace halvorn::general

namespace halvorn::cli {

// How the tool shows a parameter: as a JSON object (number, name, value,
// readOnly, min, max and, for a driver parameter, typeWord and kind) and as
// a table row. Values are read from the Parameter (atomics), so any thread
// may describe a parameter that another one updates.
namespace ParameterReport {

QJsonObject json(const general::Parameter* parameter);
// Number, name, value, range, access.
QStringList row(const general::Parameter* parameter);
QStringList header();
// null for a value that could not be read (−1).
QJsonValue jsonValue(int value);
QString valueText(int value);
// The parameter's number as the tool prints it: 0x1030 above 255.
QString numberText(uint number);

// Every Parameter below `root` (depth-first, in tree order).
QList<general::Parameter*> parameters(const general::TreeNode* root);

// Why `value` cannot be written to the parameter (read-only, outside its
// range), or an empty text when it can.
QString writeProblem(const general::Parameter* parameter, uint value);

} // namespace ParameterReport

} // namespace halvorn::cli

#include "general/networklog.h"

// Compiled here rather than in the folder's shared moc unit, so that the log
// classes link on their own.
#include "moc_networklog.cpp" // NOLINT(bugprone-suspicious-include): moc output, included as Qt does

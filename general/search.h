#pragma once

#include "general/task.h"

namespace halvorn::general {

// A task that finds devices on a bus (kind 2).
class Search : public Task
{
    Q_OBJECT

public:
    Search(const QString& name, bool deleteWhenDone);
};

} // namespace halvorn::general

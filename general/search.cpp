#include "general/search.h"

namespace halvorn::general {

namespace {
constexpr int SearchTaskKind = 2;
}

Search::Search(const QString& name, bool deleteWhenDone)
    : Task(SearchTaskKind, name, deleteWhenDone)
{
}

} // namespace halvorn::general

#include "general/ui/treenodemenuitem.h"

namespace halvorn::general {

TreeNodeMenuItem::TreeNodeMenuItem(const QString& text, QObject* parent)
    : QAction(text, parent)
{
}

} // namespace halvorn::general

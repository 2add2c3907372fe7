#include "ui/main/instance_scope.h"

#include <unistd.h>

namespace zb::ui {

QString InstanceScope() {
    return QString::number(::getuid());
}

}  // namespace zb::ui

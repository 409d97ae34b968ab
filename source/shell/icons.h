// Icons drawn from the program's SVG resources. They are rendered here rather than through
// Qt's SVG icon plugin, so a missing plugin cannot leave the toolbar blank.
#pragma once

#include <QIcon>
#include <QString>

// The icon at its own size and at twice that for high-density screens; a null icon when the
// resource is missing or not valid SVG.
QIcon LoadSvgIcon(const QString& path);
// The application icon at the sizes window managers ask for.
QIcon LoadAppIcon();

// The program's window icon, drawn at start-up (no image files to ship).
#pragma once
#include <QIcon>

QIcon MakeAppIcon();

// Keyboard helpers shared by the windows.
#pragma once
#include <initializer_list>

class QWidget;

// Tab moves through `widgets` in the given order (Shift+Tab back).
void SetTabOrder(std::initializer_list<QWidget*> widgets);

// Message boxes for the running program.
#pragma once
#include "base/Messages.h"

#include <QString>

class QFont;
class QMessageBox;

// The width a window needs to show `caption` whole in its title bar.
int CaptionWidth(const QString& caption, const QFont& font);
// Keeps `box` at least as wide as its caption needs.
void WidenForCaption(QMessageBox& box);

class QtMessagePresenter : public MessagePresenter {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;
};

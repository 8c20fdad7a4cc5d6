// Message boxes for the running program.
#pragma once
#include "base/Messages.h"

class QtMessagePresenter : public MessagePresenter {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;
};

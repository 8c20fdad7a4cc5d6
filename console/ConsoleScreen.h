// The window operations the console's logic needs, and no others. The
// console window implements them; tests use a fake. Texts are CP1251 bytes,
// except message texts, which are UTF-8 like every ShowMessage text.
#pragma once
#include <string>

enum class ConsoleEdit { Edit1, Edit2, Edit3, Edit4 };
enum class ConsoleMemo { Memo1, Memo2, Memo3 };
enum class ConsoleLabel { Label7, Label8, Label14, Label15 };
enum class ConsoleTimer { Timer1, TimerQueryConf };

class ConsoleScreen {
public:
    virtual ~ConsoleScreen() = default;

    // Text of Edit1..Edit4.
    virtual std::string EditText(ConsoleEdit edit) = 0;
    // Edit5 ("Номер строки") and Edit6 ("Длинна строки").
    virtual void SetEdit5(const std::string& text) = 0;
    virtual void SetEdit6(const std::string& text) = 0;
    // Appends text at the end of a memo ("\r\n" ends a line).
    virtual void AppendMemo(ConsoleMemo memo, const std::string& text) = 0;
    // Adds a line of its own to Memo1.
    virtual void AddMemo1Line(const std::string& text) = 0;
    // Empties Memo1, Memo2 and Memo3.
    virtual void ClearMemos() = 0;
    // State of MemoCheckBox ("Активность Memo").
    virtual bool MemoActive() = 0;
    virtual void EnableTimer(ConsoleTimer timer, bool enabled) = 0;
    virtual void SetLabel(ConsoleLabel label, const std::string& caption) = 0;
    // A modal box with an OK button and the information icon (UTF-8 texts).
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
};

// The main window. It shows the job's settings in controls and keeps the job
// record (PackSettings) for its whole life. Each control event runs one
// handler, named after its control and event; the handlers apply the rules of
// settings/ to the controls' texts, and Go composes the command line and
// hands it to the launcher (launch/RunPackJob by default), which writes,
// starts and then removes the job's script.
#pragma once

#include "PackSettings.h"
#include "RunPackJob.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vintrix {

class DirListBox;

// Carries a composed command line out; returns why it could not.
using Launcher = std::function<std::optional<LaunchFailure>(const std::u16string& line)>;
// Tells the user something and returns once they have closed the message.
using ShowMessage = std::function<void(const QString& text)>;

class Form1 : public QWidget {
    Q_OBJECT

public:
    // Without a launcher Go runs RunPackJob; without a message function the
    // window speaks through a plain message box.
    explicit Form1(Launcher launch = {}, ShowMessage message = {}, QWidget* parent = nullptr);

    const PackSettings& settings() const { return settings_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void ConnectControls();
    void SetTabOrder();

    void Form1_Load();
    void Combo1_Change();
    void Combo2_Change();
    void Combo3_Change();
    void Combo1_KeyPress(char16_t& keyAscii);
    void Combo2_KeyPress(char16_t& keyAscii);
    void Combo3_KeyPress(char16_t& keyAscii);
    void NumberBox_KeyPress(char16_t& keyAscii);
    void Text4_KeyPress(char16_t& keyAscii);
    void Dir1_Change();
    void Command1_Click();
    void Command2_Click();

    // Routes a typed character to the key press handler of its box.
    void KeyPress(QObject* box, char16_t& keyAscii);
    bool FilterKey(QObject* box, QKeyEvent* event);
    bool FilterCommit(QObject* box, QInputMethodEvent* event);
    QLineEdit* EditOf(QObject* box) const;

    PackSettings settings_;
    Launcher launch_;
    ShowMessage message_;

    QLabel* Label4;         // "Filename :"
    QLineEdit* Text4;       // the output name
    QGroupBox* Frame2;      // "Bits Per Pixel"
    QRadioButton* Option4;  // "8-Bit"
    QRadioButton* Option3;  // "32-Bit"
    QLabel* Label1;         // "Width :"
    QComboBox* Combo1;      // the sheet's width
    QLabel* Label2;         // "Height :"
    QComboBox* Combo2;      // the sheet's height
    QGroupBox* Frame1;      // "Image Output": the sheets' file format
    QRadioButton* Option1;  // "BMP"
    QRadioButton* Option2;  // "PNG"
    QLabel* Label3;         // "Margin :"
    QComboBox* Combo3;      // the margin between images
    QPushButton* Command2;  // "Reset"
    QPushButton* Command1;  // "Go"
    QLabel* Label5;         // "Images Folder :"
    DirListBox* Dir1;       // the images folder
};

// The window's caption: program name, "Ver. 0.5" and the web address.
QString Form1Caption();

}  // namespace vintrix

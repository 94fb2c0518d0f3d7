#include "Form1.h"

#include "CommandLine.h"
#include "DirListBox.h"
#include "FieldRules.h"
#include "KeyCharacters.h"
#include "PlainMessage.h"
#include "ProgramIcon.h"

#include <algorithm>
#include <limits>

#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace vintrix {

namespace {

const QStringList kSizeEntries{"16", "32", "64", "128", "256", "512", "1024", "2048"};

std::u16string TextOf(const QComboBox* box)
{
    return box->currentText().toStdU16String();
}

QString Text(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

void Bound(QComboBox* box)
{
    if (const auto bounded = UpperBound(TextOf(box)))
        box->setEditText(QString::fromStdU16String(*bounded));
}

void Refill(QComboBox* box, std::u16string_view defaultText)
{
    if (const auto refill = EmptyRefill(TextOf(box), defaultText))
        box->setEditText(QString::fromStdU16String(*refill));
}

void Refill(QLineEdit* box, std::u16string_view defaultText)
{
    if (const auto refill = EmptyRefill(box->text().toStdU16String(), defaultText))
        box->setText(QString::fromStdU16String(*refill));
}

void Place(QWidget* control, const char* name, int left, int top, int width, int height)
{
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(left, top, width, height);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect rect)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Place(label, name, rect.x(), rect.y(), rect.width(), rect.height());
    return label;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, QRect rect)
{
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    Place(combo, name, rect.x(), rect.y(), rect.width(), rect.height());
    return combo;
}

// The part of a label that no later sibling covers.
QRect VisibleRect(const QLabel* label)
{
    QRect visible = label->geometry();
    for (const QWidget* sibling : label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (sibling != label && sibling->x() > visible.x() && sibling->geometry().intersects(visible))
            visible.setRight(sibling->x() - 1);
    return visible;
}

bool TextFits(const QLabel* label, const QFont& font)
{
    const QRect visible = VisibleRect(label);
    const int flags = label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine;
    const QRect needed = QFontMetrics(font).boundingRect(QRect(0, 0, visible.width(), 1000), flags, label->text());
    return needed.width() <= visible.width() && needed.height() <= visible.height();
}

// The controls keep their fixed places whatever the font, so the font steps
// down from the platform's size until every label's caption fits its place.
void FitFontToLabels(QWidget* window, const QList<QLabel*>& labels)
{
    QFont font = window->font();
    int pixels = QFontInfo(font).pixelSize();
    constexpr int kSmallestReadable = 9;
    const auto allFit = [&] {
        return std::all_of(labels.begin(), labels.end(), [&](const QLabel* label) { return TextFits(label, font); });
    };
    while (pixels > kSmallestReadable && !allFit())
        font.setPixelSize(--pixels);
    window->setFont(font);
}

QString BoxName(const QLabel* label)
{
    QString name = label->text();
    name.remove(QLatin1Char(':'));
    return name.trimmed();
}

// A screen reader announces a field by the label beside it.
void NameAfterLabel(QWidget* field, QLabel* label)
{
    label->setBuddy(field);
    field->setAccessibleName(BoxName(label));
    if (auto* combo = qobject_cast<QComboBox*>(field))
        combo->lineEdit()->setAccessibleName(BoxName(label));
}

}  // namespace

QString Form1Caption()
{
    return QStringLiteral("Vintrix Studio Ver. 0.5 [ https://vintrix.example.org ]");
}

Form1::Form1(Launcher launch, ShowMessage message, QWidget* parent)
    : QWidget(parent), launch_(std::move(launch)), message_(std::move(message))
{
    if (!message_)
        message_ = [this](const QString& text) { ShowPlainMessage(this, text); };
    if (!launch_) {
        launch_ = [this](const std::u16string& line) {
            return RunPackJob(line, message_, Text(TrimBlanks(settings_.fileName.text())));
        };
    }
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Form1Caption());
    setWindowIcon(ProgramIcon());
    resize(427, 431);
    CreateControls();
    SetTabOrder();
    ConnectControls();
    Command1->setFocus();
    Form1_Load();
}

void Form1::CreateControls()
{
    Label4 = MakeLabel(this, "Label4", QStringLiteral("Filename :"), {24, 16, 65, 25});
    Text4 = new QLineEdit(Text(kDefaultNameText), this);
    Text4->setMaxLength(std::numeric_limits<int>::max());  // the name's limit is the key filter's
    Place(Text4, "Text4", 80, 16, 305, 25);
    Frame2 = new QGroupBox(QStringLiteral("Bits Per Pixel"), this);
    Place(Frame2, "Frame2", 24, 48, 169, 129);
    Option4 = new QRadioButton(QStringLiteral("8-Bit"), Frame2);
    Place(Option4, "Option4", 48, 40, 89, 17);
    Option4->setChecked(true);
    Option3 = new QRadioButton(QStringLiteral("32-Bit"), Frame2);
    Place(Option3, "Option3", 48, 72, 89, 17);
    Label1 = MakeLabel(this, "Label1", QStringLiteral("Width :"), {248, 56, 41, 25});
    Combo1 = MakeCombo(this, "Combo1", {296, 56, 89, 21});
    Label2 = MakeLabel(this, "Label2", QStringLiteral("Height :"), {248, 128, 41, 25});
    Combo2 = MakeCombo(this, "Combo2", {296, 128, 89, 21});
    Frame1 = new QGroupBox(QStringLiteral("Image Output"), this);
    Place(Frame1, "Frame1", 24, 184, 169, 129);
    Option1 = new QRadioButton(QStringLiteral("BMP"), Frame1);
    Place(Option1, "Option1", 48, 40, 89, 17);
    Option1->setChecked(true);
    Option2 = new QRadioButton(QStringLiteral("PNG"), Frame1);
    Place(Option2, "Option2", 48, 72, 89, 17);
    Label3 = MakeLabel(this, "Label3", QStringLiteral("Margin :"), {248, 200, 41, 25});
    Combo3 = MakeCombo(this, "Combo3", {296, 200, 89, 21});
    Command2 = new QPushButton(QStringLiteral("Reset"), this);
    Place(Command2, "Command2", 200, 264, 73, 49);
    Command1 = new QPushButton(QStringLiteral("Go"), this);
    Place(Command1, "Command1", 280, 264, 137, 49);
    Label5 = MakeLabel(this, "Label5", QStringLiteral("Images Folder :"), {24, 328, 73, 25});
    Label5->setWordWrap(true);
    Dir1 = new DirListBox(this);
    Place(Dir1, "Dir1", 104, 328, 313, 96);
    Dir1->setToolTip(QStringLiteral("Please select the directory where the images to pack resides."));

    FitFontToLabels(this, {Label1, Label2, Label3, Label4, Label5});
    NameAfterLabel(Text4, Label4);
    NameAfterLabel(Combo1, Label1);
    NameAfterLabel(Combo2, Label2);
    NameAfterLabel(Combo3, Label3);
    NameAfterLabel(Dir1, Label5);

    for (QPushButton* button : {Command1, Command2}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    Combo1->addItems(kSizeEntries);
    Combo2->addItems(kSizeEntries);
    for (QComboBox* combo : {Combo1, Combo2, Combo3})
        combo->setCurrentIndex(-1);
    Combo1->setEditText(Text(kDefaultWidthText));
    Combo2->setEditText(Text(kDefaultHeightText));
}

void Form1::SetTabOrder()
{
    QWidget* const order[] = {
        Command1, Option1, Option2, Option3, Option4, Text4, Combo1, Combo2, Combo3, Command2, Dir1};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    for (QLabel* label : {Label1, Label2, Label3, Label4, Label5})
        label->setFocusPolicy(Qt::NoFocus);
}

void Form1::ConnectControls()
{
    connect(Combo1, &QComboBox::editTextChanged, this, &Form1::Combo1_Change);
    connect(Combo2, &QComboBox::editTextChanged, this, &Form1::Combo2_Change);
    connect(Combo3, &QComboBox::editTextChanged, this, &Form1::Combo3_Change);
    connect(Dir1, &DirListBox::change, this, &Form1::Dir1_Change);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    for (QObject* box :
        {static_cast<QObject*>(Text4), static_cast<QObject*>(Combo1), static_cast<QObject*>(Combo1->lineEdit()),
            static_cast<QObject*>(Combo2), static_cast<QObject*>(Combo2->lineEdit()), static_cast<QObject*>(Combo3),
            static_cast<QObject*>(Combo3->lineEdit())})
        box->installEventFilter(this);
}

void Form1::Form1_Load()
{
    settings_ = PackSettings{};
    for (int margin = 0; margin <= 32; ++margin)
        Combo3->addItem(QString::fromStdU16String(NumberText(margin)));
    Combo3->setCurrentIndex(-1);
    Combo3->setEditText(Text(kDefaultMarginText));
}

void Form1::Combo1_Change()
{
    Bound(Combo1);
}
void Form1::Combo2_Change()
{
    Bound(Combo2);
}
void Form1::Combo3_Change()
{
    Bound(Combo3);
}

void Form1::Combo1_KeyPress(char16_t& keyAscii)
{
    NumberBox_KeyPress(keyAscii);
}
void Form1::Combo2_KeyPress(char16_t& keyAscii)
{
    NumberBox_KeyPress(keyAscii);
}
void Form1::Combo3_KeyPress(char16_t& keyAscii)
{
    NumberBox_KeyPress(keyAscii);
}

// What the three number boxes do with a typed character: digits and
// backspace pass, anything else is refused.
void Form1::NumberBox_KeyPress(char16_t& keyAscii)
{
    if (!NumericKeyPasses(keyAscii))
        keyAscii = 0;
}

void Form1::Text4_KeyPress(char16_t& keyAscii)
{
    if (!NameKeyPasses(Text4->text().toStdU16String(), keyAscii))
        keyAscii = 0;
}

void Form1::Dir1_Change()
{
    SetFolder(settings_, Dir1->path().toStdU16String());
}

void Form1::Command1_Click()
{
    TakeOptions(settings_, Option4->isChecked() ? BitsChoice::EightBit : BitsChoice::ThirtyTwoBit,
        Option1->isChecked() ? FormatChoice::Bmp : FormatChoice::Png);
    for (QComboBox* box : {Combo1, Combo2, Combo3})
        Bound(box);
    Refill(Combo1, kDefaultWidthText);
    Refill(Combo2, kDefaultHeightText);
    Refill(Combo3, kDefaultMarginText);
    Refill(Text4, kDefaultNameText);
    if (const auto box = TakeNumbers(settings_, TextOf(Combo1), TextOf(Combo2), TextOf(Combo3))) {
        const QLabel* label = *box == NumberBox::Width ? Label1 : *box == NumberBox::Height ? Label2 : Label3;
        message_(tr("The number in %1 is out of range.").arg(BoxName(label)));
        return;
    }
    TakeName(settings_, Text4->text().toStdU16String());
    if (const auto failure = launch_(ComposeCommandLine(settings_)))
        message_(failure->reason);
}

void Form1::Command2_Click()
{
    Combo1->setEditText(Text(kDefaultWidthText));
    Combo2->setEditText(Text(kDefaultHeightText));
    Combo3->setEditText(Text(kDefaultMarginText));
    Text4->setText(Text(kDefaultNameText));
    Option4->setChecked(true);
    Option1->setChecked(true);
}

void Form1::KeyPress(QObject* box, char16_t& keyAscii)
{
    if (box == Text4)
        Text4_KeyPress(keyAscii);
    else if (box == Combo1 || box == Combo1->lineEdit())
        Combo1_KeyPress(keyAscii);
    else if (box == Combo2 || box == Combo2->lineEdit())
        Combo2_KeyPress(keyAscii);
    else if (box == Combo3 || box == Combo3->lineEdit())
        Combo3_KeyPress(keyAscii);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
        return FilterKey(watched, static_cast<QKeyEvent*>(event));
    case QEvent::InputMethod:
        return FilterCommit(watched, static_cast<QInputMethodEvent*>(event));
    default:
        return QWidget::eventFilter(watched, event);
    }
}

// A refused key is swallowed whole: neither the box nor a shortcut sees it.
// Alt or Meta with a character key types nothing in these boxes, and Ctrl+H
// is a backspace typed as a character.
bool Form1::FilterKey(QObject* box, QKeyEvent* event)
{
    const bool keyPress = event->type() == QEvent::KeyPress;
    const QString typed = KeyCharacters(event->key(), event->modifiers(), event->text());
    if (typed.isEmpty())
        return keyPress && IsCharacterChord(event->key(), event->modifiers(), event->text());
    char16_t keyAscii = typed.front().unicode();
    KeyPress(box, keyAscii);
    if (keyAscii == kBackspace && event->key() != Qt::Key_Backspace) {
        if (keyPress)
            EditOf(box)->backspace();
        return true;
    }
    if (keyAscii != 0)
        return false;
    event->accept();
    return true;
}

QLineEdit* Form1::EditOf(QObject* box) const
{
    if (auto* combo = qobject_cast<QComboBox*>(box))
        return combo->lineEdit();
    return qobject_cast<QLineEdit*>(box);
}

// Text from an input method is typed character by character.
bool Form1::FilterCommit(QObject* box, QInputMethodEvent* event)
{
    const QString commit = event->commitString();
    if (commit.isEmpty())
        return false;
    QLineEdit* edit = EditOf(box);
    event->setCommitString(QString(), event->replacementStart(), event->replacementLength());
    static_cast<QObject*>(edit)->event(event);
    for (qsizetype i = 0; i < commit.size(); ++i) {
        const qsizetype length = commit[i].isHighSurrogate() && i + 1 < commit.size() ? 2 : 1;
        char16_t keyAscii = commit[i].unicode();
        KeyPress(box, keyAscii);
        if (keyAscii != 0)
            edit->insert(commit.mid(i, length));
        i += length - 1;
    }
    return true;
}

}  // namespace vintrix

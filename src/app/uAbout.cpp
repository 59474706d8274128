#include "app/uAbout.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QShowEvent>

namespace zephyrine::app {

namespace {

const QColor kLinkColour(0x00, 0x00, 0xFF);   // blue
const QColor kHoverColour(0x00, 0x00, 0x80);  // navy
constexpr int kFontPoints = 8;
constexpr int kIconSize = 32;

void SetTextColour(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

void SetLinkFont(QLabel* label, const char* family) {
    QFont f(family, kFontPoints);
    f.setUnderline(true);
    label->setFont(f);
}

// The program's icon: the application's own when it has one, else a drawn "Z".
QPixmap ProgramIcon() {
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull()) return icon.pixmap(kIconSize, kIconSize);
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x30, 0x60, 0xC0));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 1, kIconSize - 2, kIconSize - 2), 6, 6);
    QFont f("Sans", 16, QFont::Bold);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(pixmap.rect(), Qt::AlignCenter, "Z");
    return pixmap;
}

}  // namespace

void TLinkLabel::mouseMoveEvent(QMouseEvent* event) {
    QLabel::mouseMoveEvent(event);
    emit MouseMove();
}

void TLinkLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    emit MouseLeave();
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
}

TFrmAbout::TFrmAbout(QWidget* owner, platform::IShell* shell, std::string skinPath)
    : QDialog(owner), shell_(shell), skinPath_(std::move(skinPath)) {
    setObjectName("FrmAbout");
    setWindowTitle("About Zephyrine ");
    setFont(QFont("MS Sans Serif", kFontPoints));
    setFixedSize(kClientWidth, kClientHeight);
    setModal(true);

    Image1 = AddLabel(new QLabel(this), 24, 8);
    Image1->setObjectName("Image1");
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setPixmap(ProgramIcon());
    Image1->setFixedSize(kIconSize, kIconSize);

    Label1 = AddLabel(new QLabel("Zephyrine 1.2.2", this), 96, 12);
    Label3 = AddLabel(new QLabel("Home Page:", this), 98, 42);
    Label4 = AddLink(kHomePage, 175, 42);
    Label6 = AddLabel(new QLabel("Support:", this), 98, 63);
    Label5 = AddLink(kSupportMail, 175, 63);
    Label9 = AddLabel(new QLabel("Sales:", this), 98, 85);
    Label8 = AddLink(kSalesMail, 175, 85);
    Label7 = AddLabel(new QLabel("Winks belong to their makers.", this), 99, 135);
    Label1->setObjectName("Label1");
    Label3->setObjectName("Label3");
    Label4->setObjectName("Label4");
    Label6->setObjectName("Label6");
    Label5->setObjectName("Label5");
    Label9->setObjectName("Label9");
    Label8->setObjectName("Label8");
    Label7->setObjectName("Label7");

    connect(Label4, &TLinkLabel::Clicked, this, &TFrmAbout::Label4Click);
    connect(Label5, &TLinkLabel::Clicked, this, &TFrmAbout::Label5Click);
    connect(Label8, &TLinkLabel::Clicked, this, &TFrmAbout::Label8Click);

    if (owner != nullptr) {
        const QRect area = owner->geometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
}

QLabel* TFrmAbout::AddLabel(QLabel* label, int left, int top) {
    label->move(left, top);
    label->adjustSize();
    return label;
}

TLinkLabel* TFrmAbout::AddLink(const QString& text, int left, int top) {
    auto* link = new TLinkLabel(text, this);
    link->setMouseTracking(true);
    SetLinkFont(link, "MS Sans Serif");
    SetTextColour(link, kLinkColour);
    connect(link, &TLinkLabel::MouseMove, this, [this, link] { Label5MouseMove(link); });
    connect(link, &TLinkLabel::MouseLeave, this, [this, link] { Label5MouseLeave(link); });
    AddLabel(link, left, top);
    return link;
}

void TFrmAbout::Label5MouseMove(TLinkLabel* label) {
    setCursor(Qt::PointingHandCursor);
    SetTextColour(label, kHoverColour);
    SetLinkFont(label, "MS Sans Serif");
}

void TFrmAbout::Label5MouseLeave(TLinkLabel* label) {
    unsetCursor();
    SetTextColour(label, kLinkColour);
    SetLinkFont(label, "Tahoma");
}

void TFrmAbout::Open(const std::string& address) {
    if (shell_) shell_->OpenUrl(address);
}

void TFrmAbout::Label4Click() {
    Open(kHomePage);
}
void TFrmAbout::Label5Click() {
    Open(std::string("mailto:") + kSupportMail);
}
void TFrmAbout::Label8Click() {
    Open(std::string("mailto:") + kSalesMail);
}

void TFrmAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TFrmAbout::FormShow() {
    const QString sheet = ReadSkin(skinPath_);
    if (!sheet.isEmpty()) setStyleSheet(sheet);
}

}  // namespace zephyrine::app
